#include "Gestures.h"

#include "platform/Form.h"
#include "platform/qt/QtForm.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTreeView>

#include <stdexcept>

namespace tavik::gestures {

namespace {

bool takesClickFocus(const QWidget* widget) {
    const QWidget* proxy = widget;
    while (proxy->focusProxy())
        proxy = proxy->focusProxy();
    return (widget->focusPolicy() & Qt::ClickFocus) == Qt::ClickFocus &&
           (proxy->focusPolicy() & Qt::ClickFocus) == Qt::ClickFocus;
}

// Events sent by the program carry no window system behind them: the focus moves here as a
// real press moves it, to the innermost enabled widget under the pointer that takes the
// focus by click, unless the search reaches one that already has it.
void giveClickFocus(QWidget* widget, QPoint where) {
    for (QWidget* w = widget; w; w = w->parentWidget()) {
        if (w->isEnabled() && w->rect().contains(where) && takesClickFocus(w)) {
            w->setFocus(Qt::MouseFocusReason);
            return;
        }
        if (w->isWindow())
            return;
        const QWidget* proxy = w->focusProxy() ? w->focusProxy() : w;
        if (proxy->hasFocus())
            return;
        where += w->pos();
    }
}

void sendMouse(QWidget* widget, QEvent::Type type, QPoint where, Qt::MouseButtons buttons,
               Qt::KeyboardModifiers modifiers) {
    if (type != QEvent::MouseButtonRelease)
        giveClickFocus(widget, where);
    QMouseEvent event(type, where, widget->mapToGlobal(where), Qt::LeftButton, buttons, modifiers);
    QApplication::sendEvent(widget, &event);
}

QWidget* widgetNamed(platform::Form& form, const std::string& name) {
    return platform::qt::findWidget(form, name);
}

template <class Widget> Widget* widgetNamed(platform::Form& form, const std::string& name) {
    return qobject_cast<Widget*>(widgetNamed(form, name));
}

// A left click (with modifiers) at `where`, the widget's centre when null.
void mouseClick(QWidget* widget, QPoint where = {}, Qt::KeyboardModifiers modifiers = {}) {
    if (where.isNull())
        where = widget->rect().center();
    QPointer<QWidget> alive(widget);
    sendMouse(widget, QEvent::MouseButtonPress, where, Qt::LeftButton, modifiers);
    if (alive)
        sendMouse(widget, QEvent::MouseButtonRelease, where, Qt::NoButton, modifiers);
}

// The second click of a double click: the double-click event alone.
void mouseDoubleClick(QWidget* widget, QPoint where) {
    sendMouse(widget, QEvent::MouseButtonDblClick, where, Qt::LeftButton, {});
}

// A key pressed and released; `text` is what it types.
void keyClick(QWidget* widget, Qt::Key key, const QString& text) {
    QPointer<QWidget> alive(widget);
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(widget, &press);
    if (!alive)
        return;
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(widget, &release);
}

void keyOnList(platform::Form& form, Qt::Key key, const QString& text) {
    QWidget* list = widgetNamed(form, "lstComments");
    if (!list->isEnabled())
        return;
    list->setFocus(Qt::OtherFocusReason);
    keyClick(list, key, text);
}

} // namespace

void click(platform::Form& form, const std::string& name) {
    QWidget* widget = widgetNamed(form, name);
    // A user cannot click what is not shown; a disabled widget ignores the click itself.
    if (!widget->isVisible())
        return;
    mouseClick(widget);
}

void selectRow(platform::Form& form, int row, bool doubleClick) {
    auto* view = widgetNamed<QAbstractItemView>(form, "lstComments");
    if (!view->isEnabled())
        return;
    QAbstractItemModel* model = view->model();
    if (row < -1 || row >= model->rowCount())
        throw std::out_of_range("lstComments has no row " + std::to_string(row));

    if (row == -1) {
        // A control-click on the selected row clears the selection.
        const QModelIndexList selected = view->selectionModel()->selectedRows();
        QPoint where = view->viewport()->rect().bottomRight() - QPoint(1, 1);
        if (!selected.isEmpty()) {
            view->scrollTo(selected.front());
            where = view->visualRect(selected.front()).center();
        }
        mouseClick(view->viewport(), where, Qt::ControlModifier);
        return;
    }
    const QModelIndex index = model->index(row, 0);
    view->scrollTo(index);
    const QPoint where = view->visualRect(index).center();
    mouseClick(view->viewport(), where);
    if (doubleClick)
        mouseDoubleClick(view->viewport(), where);
}

void pressKey(platform::Form& form, Qt::Key key) {
    const bool letter = key >= Qt::Key_A && key <= Qt::Key_Z;
    keyOnList(form, key, letter ? QString(QChar(char16_t(key)).toLower()) : QString());
}

void pressKey(platform::Form& form, QChar letter) {
    keyOnList(form, Qt::Key(letter.toUpper().unicode()), QString(letter));
}

void clickColumn(platform::Form& form, int column) {
    auto* view = widgetNamed<QTreeView>(form, "lstComments");
    QHeaderView* header = view->header();
    if (column < 0 || column >= form.lstComments().columnCount())
        throw std::out_of_range("lstComments has no column " + std::to_string(column));
    if (!view->isEnabled())
        return;
    const int width = column < header->count() ? header->sectionSize(column) : 0;
    if (width == 0) {
        // A zero-width header (one the view leaves out, too) cannot be hit by the pointer;
        // deliver its click directly.
        emit header->sectionClicked(column);
        return;
    }
    const QPoint where(header->sectionViewportPosition(column) + width / 2, header->height() / 2);
    mouseClick(header->viewport(), where);
}

void type(platform::Form& form, const QString& text) {
    auto* box = widgetNamed<QPlainTextEdit>(form, "txtComment");
    if (!box->isEnabled())
        return;
    box->setFocus(Qt::OtherFocusReason);
    box->moveCursor(QTextCursor::End);
    for (const QChar c : text) {
        if (c == '\r')
            keyClick(box, Qt::Key_Return, "\r");
        else
            keyClick(box, Qt::Key_unknown, QString(c));
    }
}

void paste(platform::Form& form, const QString& text) {
    auto* box = widgetNamed<QPlainTextEdit>(form, "txtComment");
    if (!box->isEnabled() || box->isReadOnly())
        return;
    box->moveCursor(QTextCursor::End);
    box->insertPlainText(text);
}

void pick(platform::Form& form, const std::string& combo, int index) {
    const platform::ComboBox& adapter = combo == "cboType" ? form.cboType() : form.cboLocation();
    auto* box = widgetNamed<QComboBox>(form, combo);
    if (index < 0 || index >= box->count())
        throw std::out_of_range(combo + " has no entry " + std::to_string(index));
    if (adapter.locked() || !box->isEnabled())
        return;
    box->setCurrentIndex(index);
    emit box->activated(index);
}

void setDate(platform::Form& form, const std::string& picker, QDate date) {
    auto* edit = widgetNamed<QDateEdit>(form, picker);
    if (!edit->isVisible() || !edit->isEnabled())
        return;
    edit->setDate(date);
}

} // namespace tavik::gestures
