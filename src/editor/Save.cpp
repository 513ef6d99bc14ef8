#include "../control/VendorComment.h"

#include "Statements.h"

#include "../common/Text.h"
#include "../platform/Locale.h"
#include "../platform/MessageBox.h"
#include "../platform/Translatable.h"

namespace tavik {

// New Comment enters the Adding state; under any other caption the button saves.
void VendorComment::cmdAdd_Click() {
    // One statement at a time: while one is in flight, until its answer has been handled,
    // a second Save would send it twice and New Comment would empty the editor under it.
    if (mblnPosting)
        return;
    if (cmdAdd.caption() == "New Comment")
        BeginAdding();
    else
        Save();
}

void VendorComment::BeginAdding() {
    SetAction("Add");
    cmdAdd.setCaption(TAVIK_TR("tavik::VendorComment", "Save"));
    cmdEdit.setCaption(TAVIK_TR("tavik::VendorComment", "Cancel"));
    cmdEdit.setEnabled(true);
    cmdDelete.setEnabled(false);
    txtComment.setText("");
    txtComment.setLocked(false);
    txtComment.setBackColor(platform::vbWindowBackground);
    cboType.setLocked(false);
    cboType.setBackColor(platform::vbWindowBackground);
    cboType.setListIndex(-1);
    cboLocation.setLocked(false);
    cboLocation.setBackColor(platform::vbWindowBackground);
    cboLocation.setListIndex(-1);
    chkDate(0).setEnabled(true);
    chkDate(1).setEnabled(true);
    DateBox(0).setEnabled(true);
    DateBox(1).setEnabled(true);
    chkDate(0).setValue(0);
    chkDate_Click(0);
    chkDate(1).setValue(0);
    chkDate_Click(1);
    DateBox(0).setValue(mstrServerDate);
    DateBox(1).setValue(mstrServerDate);
    txtComment.setFocus();
}

// Validates the editor and sends the insert or the update; the server's answer returns
// the editor to Browse (Inet1_StateChanged).
void VendorComment::Save() {
    if (txtComment.text().empty()) {
        MsgBox(TAVIK_TR("tavik::VendorComment", "Please enter Vendor comments"),
               platform::vbInformation, TAVIK_TR("tavik::VendorComment", "Information Validation"));
        txtComment.setFocus();
        return;
    }

    mstrEffective = chkDate(0).value() == 1 ? platform::shortDate(DateBox(0).value()) : "";
    mstrExpires = chkDate(1).value() == 1 ? platform::shortDate(DateBox(1).value()) : "";

    if (!mstrEffective.empty() && !mstrExpires.empty()) {
        if (platform::dateDiffDays(platform::CDate(mstrEffective), platform::CDate(mstrExpires)) <
            0) {
            MsgBox(TAVIK_TR("tavik::VendorComment",
                            "Expires Date should be greater than Effective Date"),
                   platform::vbInformation, TAVIK_TR("tavik::VendorComment", "Vendor Comments"));
            DateBox(1).setFocus();
            return;
        }
    } else if (common::isBlank(mstrEffective) && !mstrExpires.empty()) {
        MsgBox(TAVIK_TR("tavik::VendorComment", "The Effective Date Required"),
               platform::vbInformation, TAVIK_TR("tavik::VendorComment", "Vendor Comments"));
        chkDate(0).setFocus();
        return;
    }

    if (cboLocation.listIndex() == -1) {
        MsgBox(TAVIK_TR("tavik::VendorComment", "Vendor location is required"),
               platform::vbInformation, TAVIK_TR("tavik::VendorComment", "Vendor Comments"));
        cboLocation.setFocus();
        return;
    }
    if (cboType.listIndex() == -1) {
        MsgBox(TAVIK_TR("tavik::VendorComment", "Vendor type is required"), platform::vbInformation,
               TAVIK_TR("tavik::VendorComment", "Vendor Comments"));
        cboType.setFocus();
        return;
    }

    const std::int32_t typeCode = cboType.itemData(cboType.listIndex());
    const std::int32_t locationCode = cboLocation.itemData(cboLocation.listIndex());
    if (mstrAction == "Add") {
        PostSQL(InsertStatement(mstrVendorID, typeCode, locationCode, mstrEffective, mstrExpires,
                                txtComment.text()));
    } else if (mstrAction == "Edit" && !mstrSequence.empty()) {
        PostSQL(UpdateStatement(mstrVendorID, typeCode, locationCode, mstrEffective, mstrExpires,
                                txtComment.text(), mstrSequence));
    }
}

} // namespace tavik
