#pragma once

#include "../Form.h"
#include "../Widgets.h"

#include <functional>
#include <string>
#include <vector>

class QWidget;

namespace tavik::platform::qt {

namespace detail {
class ReportModel;
class ReportView;
} // namespace detail

// The report list on a QTreeView over a table model of its own: six columns, rows appended
// in order, never sorted. Trailing columns of width 0 hold values but are not shown.
class QtListView final : public ListView {
public:
    QtListView(QWidget* parent, const QWidget* form, const WidgetPlacement& placement);
    QWidget* widget() const;
    void onClick(std::function<void()> handler);
    void onDblClick(std::function<void()> handler);
    void onKeyUp(std::function<void(int KeyCode, int Shift)> handler);
    void onColumnClick(std::function<void(int column)> handler);

    void addColumn(const std::string& text, double widthTwips) override;
    int columnCount() const override { return static_cast<int>(columnWidths_.size()); }
    std::string columnText(int column) const override;
    double columnWidth(int column) const override;

    int addItem(std::string text) override;
    void clearItems() override;
    int count() const override;
    void remove(int index) override;
    std::string itemText(int index) const override;
    void setItemText(int index, std::string text) override;
    std::string subItem(int index, int subItem) const override;
    void setSubItem(int index, int subItem, std::string text) override;

    int selectedIndex() const override;

    double width() const override;
    bool enabled() const override;
    void setEnabled(bool enabled) override;
    bool hideSelection() const override;
    void setHideSelection(bool hide) override;
    OleColor backColor() const override;
    void setBackColor(OleColor color) override;
    void setFocus() override;

private:
    void checkRow(int index) const;
    void checkColumn(int column) const;
    int pixelWidth(int column) const;

    detail::ReportView* view_;
    detail::ReportModel* model_;
    const QWidget* form_;
    std::vector<std::string> columnTexts_;
    std::vector<double> columnWidths_;
};

} // namespace tavik::platform::qt
