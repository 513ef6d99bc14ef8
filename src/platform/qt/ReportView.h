#pragma once

#include "WidgetSupport.h"

#include <QApplication>
#include <QFocusEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPalette>
#include <QTreeView>

#include <functional>

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
    std::function<void(int, int)> keyDown;
    std::function<void(int, int)> keyUp;
    std::function<void(int)> columnClick;

    OleColor backColor = vbWindowBackground;
    bool hideSelection = true;

    // The background, and a highlight that vanishes while hidden selections are asked for
    // and the list lacks the focus.
    void refreshPalette() {
        QPalette palette = QApplication::palette(this);
        const QColor base = colorFromOle(backColor);
        palette.setColor(QPalette::Base, base);
        if (hideSelection && !hasFocus()) {
            for (const auto group : {QPalette::Active, QPalette::Inactive}) {
                palette.setColor(group, QPalette::Highlight, base);
                palette.setColor(group, QPalette::HighlightedText,
                                 palette.color(group, QPalette::Text));
            }
        }
        setPalette(palette);
    }

    void keyboardSearch(const QString& search) override {
        // Typing looks for the row's text, whichever cell was clicked last.
        const QModelIndex current = currentIndex();
        if (current.isValid() && current.column() != 0)
            selectionModel()->setCurrentIndex(current.siblingAtColumn(0),
                                              QItemSelectionModel::NoUpdate);
        QTreeView::keyboardSearch(search);
    }

protected:
    void rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) override {
        // Qt would select the next row in place of a removed current one; the list instead
        // is left with no selection.
        const QModelIndex current = currentIndex();
        if (current.isValid() && current.row() >= start && current.row() <= end)
            selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
        QTreeView::rowsAboutToBeRemoved(parent, start, end);
    }
    void mousePressEvent(QMouseEvent* event) override {
        QTreeView::mousePressEvent(event);
        if (event->button() == Qt::LeftButton)
            clickArmed_ = true;
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        QTreeView::mouseReleaseEvent(event);
        if (event->button() == Qt::LeftButton && clickArmed_) {
            clickArmed_ = false;
            raise(click);
        }
    }
    void mouseDoubleClickEvent(QMouseEvent* event) override {
        QTreeView::mouseDoubleClickEvent(event);
        if (event->button() == Qt::LeftButton) {
            clickArmed_ = false; // the release that ends a double click is no click
            raise(dblClick);
        }
    }
    void keyPressEvent(QKeyEvent* event) override {
        const int code = virtualKeyCode(event->key());
        if (code != 0 && !event->isAutoRepeat() && isEnabled() && keyDown) {
            const int shift = shiftState(event->modifiers());
            raiseEvent([&] { keyDown(code, shift); });
        }
        QTreeView::keyPressEvent(event);
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
            refreshPalette();
    }
    void focusOutEvent(QFocusEvent* event) override {
        QTreeView::focusOutEvent(event);
        if (hideSelection)
            refreshPalette();
    }

private:
    void raise(const std::function<void()>& handler) {
        if (isEnabled() && handler)
            raiseEvent(handler);
    }

    bool clickArmed_ = false;
};

} // namespace tavik::platform::qt::detail
