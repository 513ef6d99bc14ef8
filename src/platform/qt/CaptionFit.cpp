#include "CaptionFit.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>

#include <algorithm>
#include <numeric>

namespace tavik::platform::qt {

namespace {

// The width of the part of a button at `size` that the style draws its caption in.
int buttonContentsWidth(const QAbstractButton* button, QSize size, QStyle::SubElement contents) {
    QStyleOptionButton option;
    option.initFrom(button);
    option.rect = QRect(QPoint(0, 0), size);
    option.text = button->text();
    option.icon = button->icon();
    option.iconSize = button->iconSize();
    return button->style()->subElementRect(contents, &option, button).width();
}

// Whether design rectangles a and b share a row: some line across the form meets both.
bool shareRow(const QRect& a, const QRect& b) {
    return a.top() <= b.bottom() && b.top() <= a.bottom();
}

// Whether `right` lies wholly to the right of `left`, in its row.
bool follows(const QRect& left, const QRect& right) {
    return shareRow(left, right) && right.left() > left.right();
}

int gapBetween(const QRect& left, const QRect& right) {
    return std::min(right.left() - left.right() - 1, kCaptionGap);
}

} // namespace

int captionWidth(const QWidget* widget, QSize designSize) {
    int textWidth = 0;
    int room = designSize.width();
    if (const auto* label = qobject_cast<const QLabel*>(widget)) {
        textWidth = label->fontMetrics().horizontalAdvance(label->text());
        const QMargins margins = label->contentsMargins();
        room -= margins.left() + margins.right() + 2 * label->margin();
    } else if (const auto* button = qobject_cast<const QPushButton*>(widget)) {
        textWidth = button->fontMetrics().size(Qt::TextShowMnemonic, button->text()).width();
        room = buttonContentsWidth(button, designSize, QStyle::SE_PushButtonContents);
    } else if (const auto* box = qobject_cast<const QCheckBox*>(widget)) {
        textWidth = box->fontMetrics().size(Qt::TextShowMnemonic, box->text()).width();
        room = buttonContentsWidth(box, designSize, QStyle::SE_CheckBoxContents);
    }
    if (textWidth == 0 || textWidth <= room)
        return designSize.width();
    return std::max(designSize.width(), widget->sizeHint().width());
}

std::vector<QRect> fittedGeometry(const std::vector<QRect>& design, const std::vector<int>& widths,
                                  const QRect& bounds) {
    std::vector<QRect> fitted = design;
    for (std::size_t i = 0; i < fitted.size(); ++i)
        fitted[i].setWidth(widths[i]);
    std::vector<std::size_t> order(design.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return design[a].left() < design[b].left();
    });

    // Left to right: each widget keeps clear of the ones before it in its row.
    for (std::size_t at = 0; at < order.size(); ++at) {
        QRect& widget = fitted[order[at]];
        for (std::size_t before = 0; before < at; ++before) {
            const std::size_t left = order[before];
            if (follows(design[left], design[order[at]]))
                widget.moveLeft(
                    std::max(widget.left(), fitted[left].right() + 1 +
                                                gapBetween(design[left], design[order[at]])));
        }
    }
    // Right to left: each widget stays within the bounds and clear of the ones after it.
    for (std::size_t at = order.size(); at-- > 0;) {
        QRect& widget = fitted[order[at]];
        int limit = std::max(bounds.right(), design[order[at]].right());
        for (std::size_t after = at + 1; after < order.size(); ++after) {
            const std::size_t right = order[after];
            if (follows(design[order[at]], design[right]))
                limit = std::min(limit, fitted[right].left() - 1 -
                                            gapBetween(design[order[at]], design[right]));
        }
        if (widget.right() > limit)
            widget.moveRight(std::max(limit, bounds.left() + widget.width() - 1));
    }
    return fitted;
}

} // namespace tavik::platform::qt
