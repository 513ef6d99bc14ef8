#pragma once

#include "store/CommentStore.h"

namespace vcserver {

// A few locations and types, and comments for vendors 318 and V100, for trying the control.
const DemoData& demoData();

} // namespace vcserver
