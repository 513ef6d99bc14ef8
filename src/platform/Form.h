#pragma once

#include "Inet.h"
#include "Widgets.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

// The control's form: its named widgets and its transfer component, built from a
// design-time layout, with the widgets' events delivered to the control.
namespace tavik::platform {

// The events the form raises, each to the handler the control names for it.
class FormEvents {
public:
    virtual void cmdAdd_Click() = 0;
    virtual void cmdEdit_Click() = 0;
    virtual void cmdDelete_Click() = 0;
    virtual void chkDate_Click(int Index) = 0;
    // A typed character; setting KeyAscii to 0 discards it.
    virtual void txtComment_KeyPress(int& KeyAscii) = 0;
    virtual void lstComments_Click() = 0;
    virtual void lstComments_DblClick() = 0;
    virtual void lstComments_KeyUp(int KeyCode, int Shift) = 0;
    virtual void lstComments_ColumnClick(int column) = 0;
    // A key that went down within the form and that the widget holding the focus did not
    // use; setting KeyCode to 0 marks it used, otherwise it goes on to the host.
    virtual void UserControl_KeyDown(int& KeyCode, int Shift) = 0;
    virtual void Inet1_StateChanged(int State) = 0;

protected:
    ~FormEvents() = default;
};

enum class WidgetKind {
    Frame,
    ListView,
    Label,
    TextBox,
    ComboBox,
    CheckBox,
    DatePicker,
    CommandButton
};

// One widget of the design-time layout; positions and sizes in twips. Every widget but
// the first (the frame) is placed inside the frame.
struct WidgetPlacement {
    std::string name; // "cmdAdd", "chkDate(0)", ...
    WidgetKind kind;
    std::string caption;
    int left, top, width, height;
    int tabIndex;
    std::optional<OleColor> backColor = {};
    bool visible = true;
    std::string customFormat = {}; // date pickers
    // What assistive technology announces for a widget that has no caption to say it, and
    // what the widget is for.
    std::string accessibleName = {};
    std::string accessibleDescription = {};
    std::string labelFor = {}; // labels: the widget the label names
};

class Form {
public:
    virtual ~Form() = default;

    virtual CommandButton& cmdAdd() = 0;
    virtual CommandButton& cmdEdit() = 0;
    virtual CommandButton& cmdDelete() = 0;
    virtual TextBox& txtComment() = 0;
    virtual ComboBox& cboType() = 0;
    virtual ComboBox& cboLocation() = 0;
    virtual CheckBox& chkDate(int index) = 0;
    virtual DatePicker& DateBox(int index) = 0;
    virtual ListView& lstComments() = 0;
    virtual Label& lblVersionNumber() = 0;
    virtual Inet& Inet1() = 0;

    // The name of the form's widget that holds the input focus, if any.
    virtual std::optional<std::string> focusedWidget() const = 0;
};

// Builds the form on the platform's toolkit; `events` must outlive it.
std::unique_ptr<Form> createForm(const std::vector<WidgetPlacement>& layout, FormEvents& events);

} // namespace tavik::platform
