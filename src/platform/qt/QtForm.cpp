#include "QtForm.h"

#include "../RuntimeError.h"
#include "CaptionFit.h"
#include "CurlInet.h"
#include "WidgetSupport.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFont>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include <algorithm>
#include <utility>

namespace tavik::platform {

std::unique_ptr<Form> createForm(const std::vector<WidgetPlacement>& layout, FormEvents& events) {
    return std::make_unique<qt::QtForm>(layout, events);
}

} // namespace tavik::platform

namespace tavik::platform::qt {

namespace {

std::string arrayElement(const std::string& name, int index) {
    return name + "(" + std::to_string(index) + ")";
}

} // namespace

QtForm::QtForm(const std::vector<WidgetPlacement>& layout, FormEvents& events) : events_(events) {
    // The design-time sizes were made for a narrow 8-point dialog font; a wider default
    // would clip the captions and the pickers' dates.
    QFont designFont = font();
    designFont.setPointSizeF(8);
    designFont.setStretch(QFont::SemiCondensed);
    setFont(designFont);
    build(layout);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    cmdAdd_ = require(buttons_, "cmdAdd");
    cmdEdit_ = require(buttons_, "cmdEdit");
    cmdDelete_ = require(buttons_, "cmdDelete");
    txtComment_ = require(textBoxes_, "txtComment");
    cboType_ = require(comboBoxes_, "cboType");
    cboLocation_ = require(comboBoxes_, "cboLocation");
    lstComments_ = require(listViews_, "lstComments");
    lblVersionNumber_ = require(labels_, "lblVersionNumber");
    for (int index = 0; index < 2; ++index) {
        require(checkBoxes_, arrayElement("chkDate", index));
        require(datePickers_, arrayElement("DateBox", index));
    }
    connectEvents();
    inet_ = createCurlInet(
        [this](int state) { raiseEvent([&] { events_.Inet1_StateChanged(state); }); });
}

QtForm::~QtForm() {
    inet_.reset();
    // The widgets go before their adapters, whose handlers they could otherwise still call.
    const QList<QWidget*> children = findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    qDeleteAll(children);
}

template <class Adapter>
Adapter* QtForm::require(const std::map<std::string, std::unique_ptr<Adapter>>& adapters,
                         const std::string& name) {
    const auto found = adapters.find(name);
    if (found == adapters.end())
        throw RuntimeError("The layout has no widget " + name + " of the kind the form needs");
    return found->second.get();
}

void QtForm::build(const std::vector<WidgetPlacement>& layout) {
    std::vector<std::pair<int, QWidget*>> tabStops;
    for (const WidgetPlacement& placement : layout) {
        if (widgetsByName_.count(placement.name) != 0)
            throw RuntimeError("The layout names " + placement.name + " twice");
        // The first frame holds every widget after it.
        QWidget* parent = frame_ ? static_cast<QWidget*>(frame_) : static_cast<QWidget*>(this);
        QWidget* widget = nullptr;
        switch (placement.kind) {
        case WidgetKind::Frame: {
            auto* frame = new QFrame(parent);
            frame->setFrameStyle(QFrame::Box | QFrame::Sunken); // a border and no caption
            if (!frame_)
                frame_ = frame;
            widget = frame;
            break;
        }
        case WidgetKind::ListView: {
            auto adapter = std::make_unique<QtListView>(parent, this, placement);
            widget = adapter->widget();
            listViews_.emplace(placement.name, std::move(adapter));
            break;
        }
        case WidgetKind::Label: {
            auto adapter = std::make_unique<QtLabel>(parent, placement);
            widget = adapter->widget();
            labels_.emplace(placement.name, std::move(adapter));
            break;
        }
        case WidgetKind::TextBox: {
            auto adapter = std::make_unique<QtTextBox>(parent, this, placement);
            widget = adapter->widget();
            textBoxes_.emplace(placement.name, std::move(adapter));
            break;
        }
        case WidgetKind::ComboBox: {
            auto adapter = std::make_unique<QtComboBox>(parent, this, placement);
            widget = adapter->widget();
            comboBoxes_.emplace(placement.name, std::move(adapter));
            break;
        }
        case WidgetKind::CheckBox: {
            auto adapter = std::make_unique<QtCheckBox>(parent, this, placement);
            widget = adapter->widget();
            checkBoxes_.emplace(placement.name, std::move(adapter));
            break;
        }
        case WidgetKind::DatePicker: {
            auto adapter = std::make_unique<QtDatePicker>(parent, this, placement);
            widget = adapter->widget();
            datePickers_.emplace(placement.name, std::move(adapter));
            break;
        }
        case WidgetKind::CommandButton: {
            auto adapter = std::make_unique<QtCommandButton>(parent, placement);
            widget = adapter->widget();
            buttons_.emplace(placement.name, std::move(adapter));
            break;
        }
        }
        widget->setObjectName(QString::fromStdString(placement.name));
        // A combo box's open list takes the focus from the box; it is announced the same.
        auto* combo = qobject_cast<QComboBox*>(widget);
        for (QWidget* part : {widget, combo ? static_cast<QWidget*>(combo->view()) : nullptr}) {
            if (part && !placement.accessibleName.empty())
                part->setAccessibleName(translated(placement.accessibleName));
            if (part && !placement.accessibleDescription.empty())
                part->setAccessibleDescription(translated(placement.accessibleDescription));
        }
        place(widget, placement);
        if (!placement.visible)
            widget->setVisible(false);
        widgetsByName_.emplace(placement.name, widget);
        namesByWidget_.emplace(widget, placement.name);
        if (widget->focusPolicy() != Qt::NoFocus)
            tabStops.emplace_back(placement.tabIndex, widget);
    }

    // A label names its widget (its buddy) to a screen reader.
    for (const WidgetPlacement& placement : layout) {
        if (placement.labelFor.empty())
            continue;
        auto* label = qobject_cast<QLabel*>(widgetNamed(placement.name));
        QWidget* named = widgetNamed(placement.labelFor);
        if (!label || !named)
            throw RuntimeError("The layout's label " + placement.name + " names no widget");
        label->setBuddy(named);
    }

    std::stable_sort(tabStops.begin(), tabStops.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 1; i < tabStops.size(); ++i)
        QWidget::setTabOrder(tabStops[i - 1].second, tabStops[i].second);
    fitCaptions();
    resize(sizeHint());
}

void QtForm::place(QWidget* widget, const WidgetPlacement& placement) {
    const int dpiX = logicalDpiX();
    const int dpiY = logicalDpiY();
    const QRect design(twipsToPixels(placement.left, dpiX), twipsToPixels(placement.top, dpiY),
                       twipsToPixels(placement.width, dpiX), twipsToPixels(placement.height, dpiY));
    widget->setGeometry(design);
    if (frame_ && widget->parentWidget() == frame_) {
        framed_.push_back(widget);
        designGeometry_.push_back(design);
    }
}

void QtForm::fitCaptions() {
    std::vector<int> widths;
    for (std::size_t i = 0; i < framed_.size(); ++i)
        widths.push_back(captionWidth(framed_[i], designGeometry_[i].size()));
    const std::vector<QRect> fitted =
        fittedGeometry(designGeometry_, widths, frame_->contentsRect());
    for (std::size_t i = 0; i < framed_.size(); ++i)
        framed_[i]->setGeometry(fitted[i]);
}

void QtForm::connectEvents() {
    for (auto& [name, button] : buttons_)
        button->onCaptionChanged([this] { fitCaptions(); });
    for (auto& [name, label] : labels_)
        label->onCaptionChanged([this] { fitCaptions(); });
    cmdAdd_->onClick([this] { events_.cmdAdd_Click(); });
    cmdEdit_->onClick([this] { events_.cmdEdit_Click(); });
    cmdDelete_->onClick([this] { events_.cmdDelete_Click(); });
    for (int index = 0; index < 2; ++index)
        checkBoxes_.at(arrayElement("chkDate", index))->onClick([this, index] {
            events_.chkDate_Click(index);
        });
    txtComment_->onKeyPress([this](int& KeyAscii) { events_.txtComment_KeyPress(KeyAscii); });
    lstComments_->onClick([this] { events_.lstComments_Click(); });
    lstComments_->onDblClick([this] { events_.lstComments_DblClick(); });
    lstComments_->onKeyUp(
        [this](int KeyCode, int Shift) { events_.lstComments_KeyUp(KeyCode, Shift); });
    lstComments_->onColumnClick([this](int column) { events_.lstComments_ColumnClick(column); });
}

CheckBox& QtForm::chkDate(int index) {
    const auto found = checkBoxes_.find(arrayElement("chkDate", index));
    if (found == checkBoxes_.end())
        throw RuntimeError("Control array element '" + std::to_string(index) + "' doesn't exist");
    return *found->second;
}

DatePicker& QtForm::DateBox(int index) {
    const auto found = datePickers_.find(arrayElement("DateBox", index));
    if (found == datePickers_.end())
        throw RuntimeError("Control array element '" + std::to_string(index) + "' doesn't exist");
    return *found->second;
}

std::optional<std::string> QtForm::focusedWidget() const {
    // The window's focus widget is kept while the window is inactive, unlike the
    // application's.
    const QWidget* focused = window()->focusWidget();
    if (!focused || !isAncestorOf(focused))
        return std::nullopt;
    // A widget's inner parts (a tree's viewport, a date edit's line edit) count as the widget.
    for (const QWidget* w = focused; w && w != this; w = w->parentWidget()) {
        const auto found = namesByWidget_.find(w);
        if (found == namesByWidget_.end())
            continue;
        if (!w->isEnabled() || !w->isVisibleTo(this))
            return std::nullopt;
        return found->second;
    }
    return std::nullopt;
}

QWidget* QtForm::widgetNamed(const std::string& name) const {
    const auto found = widgetsByName_.find(name);
    return found == widgetsByName_.end() ? nullptr : found->second;
}

QSize QtForm::sizeHint() const {
    const QRect covered = frame_ ? frame_->geometry() : childrenRect();
    return QSize(covered.x() + covered.width(), covered.y() + covered.height());
}

QSize QtForm::minimumSizeHint() const {
    return sizeHint(); // nothing moves on resize, so anything smaller cuts widgets off
}

void QtForm::keyPressEvent(QKeyEvent* event) {
    // Only what the focused widget left unused arrives here.
    const int code = virtualKeyCode(event->key());
    int KeyCode = code;
    if (code != 0) {
        const int Shift = shiftState(event->modifiers());
        raiseEvent([&] { events_.UserControl_KeyDown(KeyCode, Shift); });
    }
    if (code != 0 && KeyCode == 0)
        event->accept();
    else
        QWidget::keyPressEvent(event); // on to the host
}

QWidget* widgetOf(Form& form) {
    return &dynamic_cast<QtForm&>(form);
}

QWidget* findWidget(Form& form, const std::string& name) {
    return dynamic_cast<QtForm&>(form).widgetNamed(name);
}

} // namespace tavik::platform::qt
