#pragma once

#include "store/CommentStore.h"

#include <string>

namespace vcbench {

// The load document writer as it stood before its per-row costs were removed, kept only as
// the benchmark's baseline: same bytes, old speed.
std::string baselineLoadDocument(const vcserver::VendorComments& data);

} // namespace vcbench
