#pragma once

#include "../platform/Form.h"

#include <vector>

namespace tavik {

// The control's widgets at their design-time places, sizes and tab order, with what a
// screen reader announces for each input.
const std::vector<platform::WidgetPlacement>& designLayout();

} // namespace tavik
