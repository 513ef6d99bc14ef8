#include "../control/VendorComment.h"

namespace tavik {

// Shows a date picker exactly while its check box is checked; the picker keeps its date.
void VendorComment::chkDate_Click(int Index) {
    if (chkDate(Index).value() == 1)
        DateBox(Index).setVisible(true);
    else
        DateBox(Index).setVisible(false);
}

// The comment box refuses the Enter key.
void VendorComment::txtComment_KeyPress(int& KeyAscii) {
    if (KeyAscii == 13)
        KeyAscii = 0;
}

} // namespace tavik
