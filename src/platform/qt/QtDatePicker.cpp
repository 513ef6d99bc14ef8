#include "QtDatePicker.h"

#include "WidgetSupport.h"

#include <QDateEdit>
#include <QLocale>

#include <chrono>

namespace tavik::platform::qt {

namespace {

QDate toQDate(const DateTime& value) {
    const std::chrono::year_month_day ymd{value.date};
    return QDate(static_cast<int>(ymd.year()), static_cast<int>(static_cast<unsigned>(ymd.month())),
                 static_cast<int>(static_cast<unsigned>(ymd.day())));
}

DateTime fromQDate(const QDate& date) {
    const std::chrono::year_month_day ymd{std::chrono::year{date.year()},
                                          std::chrono::month{static_cast<unsigned>(date.month())},
                                          std::chrono::day{static_cast<unsigned>(date.day())}};
    return DateTime{std::chrono::sys_days{ymd}, std::chrono::seconds{0}};
}

} // namespace

QtDatePicker::QtDatePicker(QWidget* parent, const QWidget* form, const WidgetPlacement& placement)
    : edit_(new QDateEdit(parent)),
      form_(form), value_{std::chrono::sys_days{std::chrono::year{2002} / 8 / 14},
                          std::chrono::seconds{0}} {
    edit_->setLocale(QLocale(QLocale::English, QLocale::UnitedStates));
    edit_->setDateRange(toQDate(kEarliestPickerDate), toQDate(kLatestPickerDate));
    if (!placement.customFormat.empty())
        edit_->setDisplayFormat(toQString(placement.customFormat));
    edit_->setCalendarPopup(true);
    edit_->setDate(toQDate(value_));
    edit_->setVisible(placement.visible);
    QObject::connect(edit_, &QDateEdit::dateChanged, edit_, [this](QDate date) {
        if (!settingValue_ && date.isValid())
            value_ = fromQDate(date);
    });
}

void QtDatePicker::setValue(const std::string& dateText) {
    const DateTime parsed = pickerDate(dateText);
    const QDate date = toQDate(parsed);
    settingValue_ = true;
    edit_->setDate(date);
    settingValue_ = false;
    value_ = parsed;
}

bool QtDatePicker::visible() const {
    return edit_->isVisibleTo(form_);
}
void QtDatePicker::setVisible(bool visible) {
    edit_->setVisible(visible);
}
bool QtDatePicker::enabled() const {
    return edit_->isEnabled();
}
void QtDatePicker::setEnabled(bool enabled) {
    edit_->setEnabled(enabled);
}
void QtDatePicker::setFocus() {
    focusOrThrow(edit_, form_);
}

} // namespace tavik::platform::qt
