#pragma once

#include <string>
#include <vector>

namespace tavik {
class VendorComment;
}

struct RecordedMessageBox {
    std::string prompt;
    int style;
    std::string title;
};

// One line of JSON with the control state, every widget setting, the focus, the mouse
// pointer and the message boxes shown since the previous dump.
std::string dumpControl(tavik::VendorComment& control,
                        const std::vector<RecordedMessageBox>& boxes);
