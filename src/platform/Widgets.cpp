#include "Widgets.h"

#include "RuntimeError.h"

namespace tavik::platform {

int ListView::selectedItem() const {
    const int index = selectedIndex();
    if (index < 0)
        throw RuntimeError("Object variable or With block variable not set");
    return index;
}

DateTime pickerDate(std::string_view dateText) {
    const DateTime date = CDate(dateText);
    if (date < kEarliestPickerDate || date > kLatestPickerDate)
        throw RuntimeError("Invalid property value");
    return date;
}

} // namespace tavik::platform
