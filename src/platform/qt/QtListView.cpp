#include "QtListView.h"

#include "BackColor.h"
#include "ReportModel.h"
#include "ReportView.h"
#include "WidgetSupport.h"

#include "../../common/CodePage.h"
#include "../RuntimeError.h"

#include <QHeaderView>
#include <QScopedValueRollback>

#include <algorithm>

namespace tavik::platform::qt {

namespace {

// A cell's text as the list shows it. The list keeps texts as they came; one that is not
// UTF-8 reads back as Qt shows it, with its broken bytes replaced, like every other widget.
std::string asShown(const std::string& text) {
    return common::isValidUtf8(text) ? text : toQString(text).toStdString();
}

} // namespace

QtListView::QtListView(QWidget* parent, const QWidget* form, const WidgetPlacement& placement)
    : view_(new detail::ReportView(parent)), model_(new detail::ReportModel(view_)), form_(form) {
    view_->setModel(model_);
    view_->background->set(designBackColor(placement));
}

QWidget* QtListView::widget() const {
    return view_;
}
void QtListView::onClick(std::function<void()> handler) {
    view_->click = std::move(handler);
}
void QtListView::onDblClick(std::function<void()> handler) {
    view_->dblClick = std::move(handler);
}
void QtListView::onKeyUp(std::function<void(int, int)> handler) {
    view_->keyUp = std::move(handler);
}
void QtListView::onColumnClick(std::function<void(int)> handler) {
    view_->columnClick = std::move(handler);
}

void QtListView::addColumn(const std::string& text, double widthTwips) {
    columnTexts_.push_back(text);
    columnWidths_.push_back(widthTwips);
    // A column too narrow to be seen (the rows' keys) only holds values: while such columns
    // are last, the view leaves them out, so neither the header nor a screen reader offers
    // them. The rows keep every sub-item either way.
    if (pixelWidth(columnCount() - 1) == 0)
        return;
    for (int column = model_->columnCount(); column < columnCount(); ++column) {
        model_->appendColumn(translated(columnTexts_[static_cast<std::size_t>(column)]));
        view_->header()->resizeSection(column, pixelWidth(column));
    }
}

int QtListView::pixelWidth(int column) const {
    return std::max(
        0, twipsToPixels(columnWidths_[static_cast<std::size_t>(column)], view_->logicalDpiX()));
}

void QtListView::checkColumn(int column) const {
    if (column < 0 || column >= columnCount())
        throw RuntimeError(kIndexOutOfBounds);
}

std::string QtListView::columnText(int column) const {
    checkColumn(column);
    return columnTexts_[static_cast<std::size_t>(column)];
}

double QtListView::columnWidth(int column) const {
    checkColumn(column);
    return columnWidths_[static_cast<std::size_t>(column)];
}

int QtListView::addItem(std::string text) {
    const QScopedValueRollback changing(view_->rowsChanging, true);
    return model_->appendRow(std::move(text));
}
void QtListView::clearItems() {
    const QScopedValueRollback changing(view_->rowsChanging, true);
    model_->clearRows();
}
int QtListView::count() const {
    return model_->rowCount();
}

void QtListView::checkRow(int index) const {
    if (index < 0 || index >= model_->rowCount())
        throw RuntimeError(kIndexOutOfBounds);
}

void QtListView::remove(int index) {
    checkRow(index);
    const QScopedValueRollback changing(view_->rowsChanging, true);
    model_->removeRowAt(index);
}

std::string QtListView::itemText(int index) const {
    checkRow(index);
    return asShown(model_->field(index, 0));
}

void QtListView::setItemText(int index, std::string text) {
    checkRow(index);
    model_->setField(index, 0, std::move(text));
}

std::string QtListView::subItem(int index, int subItem) const {
    checkRow(index);
    if (subItem < 1 || subItem >= detail::ReportModel::kFields)
        throw RuntimeError(kInvalidPropertyValue);
    return asShown(model_->field(index, subItem));
}

void QtListView::setSubItem(int index, int subItem, std::string text) {
    checkRow(index);
    if (subItem < 1 || subItem >= detail::ReportModel::kFields)
        throw RuntimeError(kInvalidPropertyValue);
    model_->setField(index, subItem, std::move(text));
}

int QtListView::selectedIndex() const {
    const QItemSelection selection = view_->selectionModel()->selection();
    for (const QItemSelectionRange& range : selection) {
        if (range.isValid())
            return range.top();
    }
    return -1;
}

double QtListView::width() const {
    return view_->width() * 1440.0 / view_->logicalDpiX();
}
bool QtListView::enabled() const {
    return view_->isEnabled();
}
void QtListView::setEnabled(bool enabled) {
    view_->setEnabled(enabled);
}
bool QtListView::hideSelection() const {
    return view_->hideSelection;
}

void QtListView::setHideSelection(bool hide) {
    view_->hideSelection = hide;
    view_->background->refresh();
}

OleColor QtListView::backColor() const {
    return view_->background->value();
}

void QtListView::setBackColor(OleColor color) {
    view_->background->set(color);
}

void QtListView::setFocus() {
    model_->markShown(); // the view may look at its rows now
    focusOrThrow(view_, form_);
}

} // namespace tavik::platform::qt
