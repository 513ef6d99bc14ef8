#pragma once

#include "../Form.h"
#include "../Widgets.h"

#include <QColor>

#include <functional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QPushButton;
class QWidget;

// The widget operations of Widgets.h over real Qt widgets: one adapter per kind of widget.
// Each adapter creates its widget as a child of the given parent and keeps, beside it, what
// the toolkit would not hand back exactly (captions, the program's text, OLE colours).
namespace platform::qt {

namespace detail {
class CommentEdit;
class LockableComboBox;
class ReportModel;
class ReportView;
} // namespace detail

// round(twips * dpi / 1440): 15 twips a pixel at 96 dpi.
int twipsToPixels(double twips, int dpi);

// The colour an OLE colour value stands for: a system colour (high bit set) or 0x00BBGGRR.
// Throws RuntimeError for a value that is neither.
QColor colorFromOle(OleColor color);

// Gives `widget` the input focus; throws RuntimeError when it is disabled, hidden within
// `form`, or takes no focus.
void focusOrThrow(QWidget* widget, const QWidget* form);

// Runs an event handler from a Qt slot. An exception must never reach Qt's event loop, so one
// that escapes the handler is shown in a critical message box instead.
void raiseEvent(const std::function<void()>& handler);

class QtCommandButton final : public CommandButton {
public:
    QtCommandButton(QWidget* parent, const WidgetPlacement& placement);
    QPushButton* widget() const { return button_; }
    void onClick(std::function<void()> handler);

    std::string caption() const override { return caption_; }
    void setCaption(const std::string& caption) override;
    bool enabled() const override;
    void setEnabled(bool enabled) override;

private:
    QPushButton* button_;
    std::string caption_;
};

class QtTextBox final : public TextBox {
public:
    QtTextBox(QWidget* parent, const QWidget* form, const WidgetPlacement& placement);
    QWidget* widget() const;
    // KeyAscii of each typed character; 0 on return discards it.
    void onKeyPress(std::function<void(int& KeyAscii)> handler);

    std::string text() const override;
    void setText(const std::string& text) override;
    bool locked() const override;
    void setLocked(bool locked) override;
    OleColor backColor() const override { return backColor_; }
    void setBackColor(OleColor color) override;
    void setFocus() override;

private:
    detail::CommentEdit* edit_;
    const QWidget* form_;
    OleColor backColor_;
};

class QtComboBox final : public ComboBox {
public:
    QtComboBox(QWidget* parent, const QWidget* form, const WidgetPlacement& placement);
    QComboBox* widget() const;

    void addItem(const std::string& text) override;
    int newIndex() const override { return newIndex_; }
    std::int32_t itemData(int index) const override;
    void setItemData(int index, std::int32_t data) override;
    std::string list(int index) const override;
    int listCount() const override;
    int listIndex() const override;
    void setListIndex(int index) override;
    void clear() override;
    bool locked() const override;
    void setLocked(bool locked) override;
    OleColor backColor() const override { return backColor_; }
    void setBackColor(OleColor color) override;
    void setFocus() override;

private:
    void checkIndex(int index) const;

    detail::LockableComboBox* box_;
    const QWidget* form_;
    OleColor backColor_;
    int newIndex_ = -1;
};

class QtCheckBox final : public CheckBox {
public:
    QtCheckBox(QWidget* parent, const QWidget* form, const WidgetPlacement& placement);
    QCheckBox* widget() const { return box_; }
    // Raised after a user's click has toggled the box, not when the program sets the value.
    void onClick(std::function<void()> handler);

    int value() const override;
    void setValue(int value) override;
    bool enabled() const override;
    void setEnabled(bool enabled) override;
    void setFocus() override;

private:
    QCheckBox* box_;
    const QWidget* form_;
};

class QtDatePicker final : public DatePicker {
public:
    QtDatePicker(QWidget* parent, const QWidget* form, const WidgetPlacement& placement);
    QDateEdit* widget() const { return edit_; }

    DateTime value() const override { return value_; }
    void setValue(const std::string& dateText) override;
    bool visible() const override;
    void setVisible(bool visible) override;
    bool enabled() const override;
    void setEnabled(bool enabled) override;
    void setFocus() override;

private:
    QDateEdit* edit_;
    const QWidget* form_;
    DateTime value_;
    bool settingValue_ = false;
};

class QtListView final : public ListView {
public:
    QtListView(QWidget* parent, const QWidget* form, const WidgetPlacement& placement);
    QWidget* widget() const;
    void onClick(std::function<void()> handler);
    void onDblClick(std::function<void()> handler);
    void onKeyDown(std::function<void(int KeyCode, int Shift)> handler);
    void onKeyUp(std::function<void(int KeyCode, int Shift)> handler);
    void onColumnClick(std::function<void(int column)> handler);

    void addColumn(const std::string& text, double widthTwips) override;
    int columnCount() const override { return static_cast<int>(columnWidths_.size()); }
    std::string columnText(int column) const override;
    double columnWidth(int column) const override;

    int addItem(const std::string& text) override;
    void clearItems() override;
    int count() const override;
    void remove(int index) override;
    std::string itemText(int index) const override;
    void setItemText(int index, const std::string& text) override;
    std::string subItem(int index, int subItem) const override;
    void setSubItem(int index, int subItem, const std::string& text) override;

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

    detail::ReportView* view_;
    detail::ReportModel* model_;
    const QWidget* form_;
    std::vector<double> columnWidths_;
};

class QtLabel final : public Label {
public:
    QtLabel(QWidget* parent, const WidgetPlacement& placement);
    QLabel* widget() const { return label_; }

    std::string caption() const override { return caption_; }
    void setCaption(const std::string& caption) override;

private:
    QLabel* label_;
    std::string caption_;
};

} // namespace platform::qt
