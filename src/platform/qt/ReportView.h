#pragma once

#include "BackColor.h"
#include "WidgetSupport.h"

#include <QAbstractItemDelegate>
#include <QFocusEvent>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPalette>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QStyleOptionViewItem>
#include <QTextDocument>
#include <QToolTip>
#include <QTreeView>

#include <functional>
#include <utility>

namespace tavik::platform::qt::detail {

// The report-style list: whole-row single selection, never sorted, never edited in place,
// raising the list's events after Qt has moved the selection.
class ReportView final : public QTreeView {
public:
    explicit ReportView(QWidget* parent) : QTreeView(parent) {
        setRootIsDecorated(false);
        setItemsExpandable(false);
        setUniformRowHeights(true);
        setSelectionMode(QAbstractItemView::SingleSelection);
        setSelectionBehavior(QAbstractItemView::SelectRows);
        setEditTriggers(QAbstractItemView::NoEditTriggers);
        setSortingEnabled(false);
        setAllColumnsShowFocus(true);
        // No menu on a right click, neither the list's nor one of the host's behind it; nor
        // on the headers and scroll bars, whose own menu would scroll the rows.
        setContextMenuPolicy(Qt::PreventContextMenu);
        for (QWidget* part :
             {static_cast<QWidget*>(header()), static_cast<QWidget*>(verticalScrollBar()),
              static_cast<QWidget*>(horizontalScrollBar())})
            part->setContextMenuPolicy(Qt::PreventContextMenu);
        QHeaderView* columns = header();
        columns->setMinimumSectionSize(0);
        columns->setStretchLastSection(false);
        columns->setSectionsMovable(false);
        columns->setSectionsClickable(true);
        columns->setSortIndicatorShown(false);
        connect(columns, &QHeaderView::sectionClicked, this, [this](int column) {
            if (isEnabled() && columnClick)
                raiseEvent([&] { columnClick(column); });
        });
    }

    std::function<void()> click;
    std::function<void()> dblClick;
    std::function<void(int, int)> keyUp;
    std::function<void(int)> columnClick;

    bool hideSelection = true;
    // Set while the control itself changes the rows, which may move the selection.
    bool rowsChanging = false;

    // The background, and a highlight that vanishes while hidden selections are asked for
    // and the list lacks the focus.
    BackColor* const background = new BackColor(
        this, {QPalette::Base}, vbWindowBackground,
        [this](QPalette& palette, const QPalette& inherited) {
            if (!hideSelection || hasFocus())
                return;
            for (const auto group : {QPalette::Active, QPalette::Inactive}) {
                palette.setColor(group, QPalette::Highlight, palette.color(group, QPalette::Base));
                palette.setColor(group, QPalette::HighlightedText,
                                 inherited.color(group, QPalette::Text));
            }
        });

    void keyboardSearch(const QString& search) override {
        // Typing looks for the row's text, whichever cell was clicked last.
        const QModelIndex current = currentIndex();
        if (current.isValid() && current.column() != 0)
            selectionModel()->setCurrentIndex(current.siblingAtColumn(0),
                                              QItemSelectionModel::NoUpdate);
        QTreeView::keyboardSearch(search);
    }

protected:
    // A cell that cuts its text off shows the whole of it as a tooltip.
    bool viewportEvent(QEvent* event) override {
        if (event->type() != QEvent::ToolTip)
            return QTreeView::viewportEvent(event);
        const auto* help = static_cast<QHelpEvent*>(event);
        const QModelIndex index = indexAt(help->pos());
        if (!index.isValid() || !cutOff(index)) {
            QToolTip::hideText();
            event->ignore();
            return true;
        }
        // As rich text, which the tip wraps, so that a long comment stays on the screen.
        QString tip = index.data(Qt::ToolTipRole).toString();
        tip.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        QToolTip::showText(help->globalPos(), Qt::convertFromPlainText(tip, Qt::WhiteSpaceNormal),
                           viewport(), visualRect(index));
        return true;
    }

    void rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) override {
        // Qt would select the next row in place of a removed current one; the list instead
        // is left with no selection.
        const QModelIndex current = currentIndex();
        if (current.isValid() && current.row() >= start && current.row() <= end)
            selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
        QTreeView::rowsAboutToBeRemoved(parent, start, end);
    }
    // Click follows the selection, whatever moved it (a key of any layout, any mouse button,
    // a drag, an assistive technology): the editor always belongs to the row selected. Only
    // the control's own changes to the rows raise nothing, and a disabled list, frozen under
    // an edit, keeps its selection.
    void selectionChanged(const QItemSelection& selected,
                          const QItemSelection& deselected) override {
        QTreeView::selectionChanged(selected, deselected);
        if (rowsChanging)
            return;
        if (!isEnabled()) {
            const QItemSelection added = selected, removed = deselected;
            const QScopedValueRollback restoring(rowsChanging, true);
            selectionModel()->select(added, QItemSelectionModel::Deselect);
            selectionModel()->select(removed, QItemSelectionModel::Select);
            return;
        }
        clickRaised_ = true;
        raise(click);
    }
    // A left click on a row raises Click even when the selection stays, once per click.
    void mousePressEvent(QMouseEvent* event) override {
        if (event->buttons() == event->button())
            clickRaised_ = false; // a new gesture
        QTreeView::mousePressEvent(event);
        if (event->button() == Qt::LeftButton)
            clickArmed_ = true;
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        QTreeView::mouseReleaseEvent(event);
        if (event->buttons() != Qt::NoButton)
            return; // the last button up ends the gesture
        if (std::exchange(clickArmed_, false) && !clickRaised_)
            raise(click);
    }
    void mouseDoubleClickEvent(QMouseEvent* event) override {
        QTreeView::mouseDoubleClickEvent(event);
        if (event->button() == Qt::LeftButton) {
            clickArmed_ = false; // the release that ends a double click is no click
            raise(dblClick);
        }
    }
    void keyReleaseEvent(QKeyEvent* event) override {
        if (event->isAutoRepeat()) {
            event->accept();
            return;
        }
        const int code = virtualKeyCode(event->key());
        if (code == 0) {
            QTreeView::keyReleaseEvent(event);
            return;
        }
        event->accept();
        if (isEnabled() && keyUp) {
            const int shift = shiftState(event->modifiers());
            raiseEvent([&] { keyUp(code, shift); });
        }
    }
    void focusInEvent(QFocusEvent* event) override {
        QTreeView::focusInEvent(event);
        if (hideSelection)
            background->refresh();
    }
    void focusOutEvent(QFocusEvent* event) override {
        QTreeView::focusOutEvent(event);
        if (hideSelection)
            background->refresh();
    }

private:
    // Whether the cell needs more room than it has: it is elided, or its lines are cut.
    bool cutOff(const QModelIndex& index) const {
        QStyleOptionViewItem option;
        initViewItemOption(&option);
        option.rect = visualRect(index);
        const QSize needed = itemDelegateForIndex(index)->sizeHint(option, index);
        return needed.width() > option.rect.width() || needed.height() > option.rect.height();
    }

    void raise(const std::function<void()>& handler) {
        if (isEnabled() && handler)
            raiseEvent(handler);
    }

    bool clickArmed_ = false;  // a left button went down on the list
    bool clickRaised_ = false; // the selection raised Click since the gesture began
};

} // namespace tavik::platform::qt::detail
