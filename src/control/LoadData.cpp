#include "VendorComment.h"

#include "../platform/Locale.h"
#include "../platform/MousePointer.h"
#include "../platform/RuntimeError.h"
#include "../platform/Translatable.h"

#include <exception>

namespace tavik {

void VendorComment::LoadData(const std::string& ptServerName, const std::string& ptVendorID,
                             const std::string& ptMode, const std::string& ptSCRN,
                             const std::string& ptPODate, const std::string& ptServerDate) {
    // A failure in any step ends the load quietly; what was done before it stays done.
    try {
        mstrVendorID = ptVendorID;
        mstrServerName = ptServerName;
        mstrServerDate = platform::generalDate(platform::CDate(ptServerDate));
        mstrSCRN = ptSCRN;
        mstrPODate = ptPODate;
        mintMode = platform::CInt(ptMode);
        ApplyMode();
        ClearForm();
        platform::setMousePointer(platform::vbHourglass);
        ReadLoadDocument();
    } catch (const std::exception& error) {
        platform::Trapped("LoadData", error);
        platform::setMousePointer(platform::vbDefault);
        Tell([&](ControlObserver& o) { o.loadFailed(error.what()); });
        return;
    }
    platform::setMousePointer(platform::vbDefault);
    Tell([rows = lstComments.count()](ControlObserver& o) { o.loaded(rows); });
}

// Enables New Comment by the permission mode; any other mode leaves it as it was.
void VendorComment::ApplyMode() {
    if (mintMode == 1 || mintMode == 2)
        cmdAdd.setEnabled(true);
    else if (mintMode == 0)
        cmdAdd.setEnabled(false);

    cmdEdit.setEnabled(false);
    cmdDelete.setEnabled(false);
    chkDate(0).setEnabled(false);
    chkDate(1).setEnabled(false);
    DateBox(0).setEnabled(false);
    DateBox(1).setEnabled(false);
}

// Empties the lists and gives the list and the editor the read-only look of Browse.
void VendorComment::ClearForm() {
    cboType.clear();
    cboLocation.clear();
    lstComments.clearItems();
    lstComments.setEnabled(true);
    lstComments.setHideSelection(true);
    lstComments.setBackColor(platform::vbWindowBackground);
    cmdAdd.setCaption(TAVIK_TR("tavik::VendorComment", "New Comment"));
    cmdEdit.setCaption(TAVIK_TR("tavik::VendorComment", "Edit"));
    cmdDelete.setEnabled(false);
    cmdEdit.setEnabled(false);
    txtComment.setText("");
    txtComment.setLocked(true);
    txtComment.setBackColor(platform::vbButtonFace);
}

} // namespace tavik
