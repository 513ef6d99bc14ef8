#include "Widgets.h"

#include "RuntimeError.h"

namespace tavik::platform {

int ListView::selectedItem() const {
    const int index = selectedIndex();
    if (index < 0)
        throw RuntimeError("Object variable or With block variable not set");
    return index;
}

} // namespace tavik::platform
