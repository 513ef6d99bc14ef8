#pragma once

#include "../Form.h"
#include "QtCheckBox.h"
#include "QtComboBox.h"
#include "QtCommandButton.h"
#include "QtDatePicker.h"
#include "QtLabel.h"
#include "QtListView.h"
#include "QtTextBox.h"

#include <QWidget>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QFrame;

namespace tavik::platform::qt {

// The control's form as a QWidget: every widget of the layout at its design-time place (no
// layouts, so nothing moves on resize; a translated caption that needs more room widens its
// widget), the widgets' events delivered to `events`, and the transfer component.
class QtForm final : public QWidget, public Form {
public:
    QtForm(const std::vector<WidgetPlacement>& layout, FormEvents& events);
    ~QtForm() override;

    CommandButton& cmdAdd() override { return *cmdAdd_; }
    CommandButton& cmdEdit() override { return *cmdEdit_; }
    CommandButton& cmdDelete() override { return *cmdDelete_; }
    TextBox& txtComment() override { return *txtComment_; }
    ComboBox& cboType() override { return *cboType_; }
    ComboBox& cboLocation() override { return *cboLocation_; }
    CheckBox& chkDate(int index) override;
    DatePicker& DateBox(int index) override;
    ListView& lstComments() override { return *lstComments_; }
    Label& lblVersionNumber() override { return *lblVersionNumber_; }
    Inet& Inet1() override { return *inet_; }
    std::optional<std::string> focusedWidget() const override;

    // The real widget behind a name of the layout ("cmdAdd", "chkDate(0)", ...), or null.
    QWidget* widgetNamed(const std::string& name) const;

    // The design size; the form has no smaller one.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void build(const std::vector<WidgetPlacement>& layout);
    void place(QWidget* widget, const WidgetPlacement& placement);
    void fitCaptions();
    void connectEvents();
    template <class Adapter>
    static Adapter* require(const std::map<std::string, std::unique_ptr<Adapter>>& adapters,
                            const std::string& name);

    FormEvents& events_;
    QFrame* frame_ = nullptr;
    std::map<std::string, QWidget*> widgetsByName_;
    std::map<const QWidget*, std::string> namesByWidget_;
    // The frame's widgets and their design geometry, in pixels.
    std::vector<QWidget*> framed_;
    std::vector<QRect> designGeometry_;

    std::map<std::string, std::unique_ptr<QtCommandButton>> buttons_;
    std::map<std::string, std::unique_ptr<QtTextBox>> textBoxes_;
    std::map<std::string, std::unique_ptr<QtComboBox>> comboBoxes_;
    std::map<std::string, std::unique_ptr<QtCheckBox>> checkBoxes_;
    std::map<std::string, std::unique_ptr<QtDatePicker>> datePickers_;
    std::map<std::string, std::unique_ptr<QtListView>> listViews_;
    std::map<std::string, std::unique_ptr<QtLabel>> labels_;

    QtCommandButton* cmdAdd_ = nullptr;
    QtCommandButton* cmdEdit_ = nullptr;
    QtCommandButton* cmdDelete_ = nullptr;
    QtTextBox* txtComment_ = nullptr;
    QtComboBox* cboType_ = nullptr;
    QtComboBox* cboLocation_ = nullptr;
    QtListView* lstComments_ = nullptr;
    QtLabel* lblVersionNumber_ = nullptr;
    std::unique_ptr<Inet> inet_;
};

// The form's QWidget, for hosts to embed.
QWidget* widgetOf(Form& form);

// The real widget behind a widget name of the form, or null when the form has none by that
// name: for hosts that click and type on the widgets as a user would.
QWidget* findWidget(Form& form, const std::string& name);

} // namespace tavik::platform::qt
