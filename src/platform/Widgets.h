#pragma once

#include "Locale.h"

#include <cstdint>
#include <string>

// The widget operations the control's logic needs, one interface per kind of widget.
// Every setting the logic makes can be read back, so hosts and tests can observe it.
// Operations that the toolkit cannot carry out throw platform::RuntimeError.
namespace tavik::platform {

// OLE colour values naming system colours.
using OleColor = std::uint32_t;
inline constexpr OleColor vbWindowBackground = 0x80000005;
inline constexpr OleColor vbButtonFace = 0x8000000F;

class CommandButton {
public:
    virtual ~CommandButton() = default;
    virtual std::string caption() const = 0;
    virtual void setCaption(const std::string& caption) = 0;
    virtual bool enabled() const = 0;
    virtual void setEnabled(bool enabled) = 0;
};

class TextBox {
public:
    virtual ~TextBox() = default;
    virtual std::string text() const = 0;
    virtual void setText(const std::string& text) = 0;
    // Locked stops the user's changes, not the program's; a locked box still takes focus.
    virtual bool locked() const = 0;
    virtual void setLocked(bool locked) = 0;
    virtual OleColor backColor() const = 0;
    virtual void setBackColor(OleColor color) = 0;
    virtual void setFocus() = 0;
};

class ComboBox {
public:
    virtual ~ComboBox() = default;
    virtual void addItem(const std::string& text) = 0; // appends
    virtual int newIndex() const = 0;                  // index of the entry just added
    virtual std::int32_t itemData(int index) const = 0;
    virtual void setItemData(int index, std::int32_t data) = 0;
    virtual std::string list(int index) const = 0; // display text of an entry
    virtual int listCount() const = 0;
    virtual int listIndex() const = 0; // -1 when none is selected
    virtual void setListIndex(int index) = 0;
    virtual void clear() = 0;
    virtual bool locked() const = 0;
    virtual void setLocked(bool locked) = 0;
    virtual OleColor backColor() const = 0;
    virtual void setBackColor(OleColor color) = 0;
    virtual void setFocus() = 0;
};

class CheckBox {
public:
    virtual ~CheckBox() = default;
    virtual int value() const = 0; // 0 unchecked, 1 checked, 2 greyed
    virtual void setValue(int value) = 0;
    virtual bool enabled() const = 0;
    virtual void setEnabled(bool enabled) = 0;
    virtual void setFocus() = 0;
};

// The dates a picker can show, and the date it takes for a text: CDate's reading within
// them; throws RuntimeError otherwise.
inline constexpr DateTime kEarliestPickerDate{std::chrono::year{1753} / 1 / 1, {}};
inline constexpr DateTime kLatestPickerDate{std::chrono::year{9999} / 12 / 31,
                                            std::chrono::seconds{86399}};
DateTime pickerDate(std::string_view dateText);

class DatePicker {
public:
    virtual ~DatePicker() = default;
    virtual DateTime value() const = 0;
    // Reads the text as a date; an unreadable or out-of-range date throws and changes nothing.
    virtual void setValue(const std::string& dateText) = 0;
    virtual bool visible() const = 0;
    virtual void setVisible(bool visible) = 0;
    virtual bool enabled() const = 0;
    virtual void setEnabled(bool enabled) = 0;
    virtual void setFocus() = 0;
};

// A report-style list: rows of a text and sub-items 1 to 5 under six column headers.
// Rows are 0-based; sub-items are numbered 1 to 5 as the columns after the first.
class ListView {
public:
    virtual ~ListView() = default;
    virtual void addColumn(const std::string& text, double widthTwips) = 0;
    virtual int columnCount() const = 0;
    virtual std::string columnText(int column) const = 0;
    virtual double columnWidth(int column) const = 0; // twips, as set

    // Texts are taken by value: a load moves them into the list without copying them.
    virtual int addItem(std::string text) = 0; // appends a row, returns its index
    virtual void clearItems() = 0;
    virtual int count() const = 0;
    virtual void remove(int index) = 0;
    virtual std::string itemText(int index) const = 0;
    virtual void setItemText(int index, std::string text) = 0;
    virtual std::string subItem(int index, int subItem) const = 0;
    virtual void setSubItem(int index, int subItem, std::string text) = 0;

    virtual int selectedIndex() const = 0; // -1 when no row is selected
    // The selected row's index, read afresh; throws when no row is selected.
    int selectedItem() const;

    virtual double width() const = 0; // twips
    virtual bool enabled() const = 0;
    virtual void setEnabled(bool enabled) = 0;
    virtual bool hideSelection() const = 0;
    virtual void setHideSelection(bool hide) = 0;
    virtual OleColor backColor() const = 0;
    virtual void setBackColor(OleColor color) = 0;
    virtual void setFocus() = 0;
};

class Label {
public:
    virtual ~Label() = default;
    virtual std::string caption() const = 0;
    virtual void setCaption(const std::string& caption) = 0;
};

} // namespace tavik::platform
