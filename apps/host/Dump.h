#pragma once

#include "platform/MessageBox.h"

#include <string>
#include <vector>

namespace tavik {
class VendorComment;
}

using RecordedMessageBox = tavik::platform::MessageBoxRecorder::Shown;

// One line of JSON with the control state, every widget setting, the focus, the mouse
// pointer and the message boxes shown since the previous dump.
std::string dumpControl(tavik::VendorComment& control,
                        const std::vector<RecordedMessageBox>& boxes);
