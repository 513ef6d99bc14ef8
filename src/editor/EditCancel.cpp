#include "../control/VendorComment.h"

#include "../platform/RuntimeError.h"
#include "../platform/Translatable.h"

#include <exception>

namespace tavik {

// Edit opens the selected row for editing; Cancel abandons the new or changed comment.
void VendorComment::cmdEdit_Click() {
    // While a statement is in flight the editor belongs to it: Cancel would hide an update
    // the server is about to accept, Edit would open another row under it.
    if (mblnPosting)
        return;
    // A failure ends the handler quietly at the step where it happens.
    try {
        if (cmdEdit.caption() == "Cancel")
            CancelEditing();
        else
            BeginEditing();
    } catch (const std::exception& error) {
        platform::Trapped("cmdEdit_Click", error);
    }
}

void VendorComment::CancelEditing() {
    ReleaseList();
    CloseEditor();
}

// The buttons and the list as Browse shows them: after Cancel and after an accepted save.
void VendorComment::ReleaseList() {
    cmdAdd.setCaption(TAVIK_TR("tavik::VendorComment", "New Comment"));
    cmdEdit.setCaption(TAVIK_TR("tavik::VendorComment", "Edit"));
    cmdEdit.setEnabled(false);
    lstComments.setEnabled(true);
    lstComments.setHideSelection(true);
    lstComments.setBackColor(platform::vbWindowBackground);
}

// Leaves Adding or Editing: the editor is emptied and read-only again, then shows the
// selected row.
void VendorComment::CloseEditor() {
    SetAction("");
    txtComment.setText("");
    txtComment.setLocked(true);
    txtComment.setBackColor(platform::vbButtonFace);
    cboType.setListIndex(-1);
    cboType.setLocked(true);
    cboType.setBackColor(platform::vbButtonFace);
    cboLocation.setListIndex(-1);
    cboLocation.setLocked(true);
    cboLocation.setBackColor(platform::vbButtonFace);
    chkDate(0).setEnabled(false);
    chkDate(1).setEnabled(false);
    DateBox(0).setEnabled(false);
    DateBox(1).setEnabled(false);
    lstComments.setFocus();
    lstComments_Click();
}

void VendorComment::BeginEditing() {
    if (lstComments.itemText(lstComments.selectedItem()).empty())
        return;
    SetAction("Edit");
    cmdAdd.setCaption(TAVIK_TR("tavik::VendorComment", "Save"));
    cmdEdit.setCaption(TAVIK_TR("tavik::VendorComment", "Cancel"));
    cmdDelete.setEnabled(false);
    // The list is frozen while its selected row is being edited, which stays highlighted.
    lstComments.setEnabled(false);
    lstComments.setBackColor(platform::vbButtonFace);
    lstComments.setHideSelection(false);
    txtComment.setLocked(false);
    txtComment.setBackColor(platform::vbWindowBackground);
    txtComment.setText(lstComments.itemText(lstComments.selectedItem()));
    cboType.setLocked(false);
    cboType.setBackColor(platform::vbWindowBackground);
    SelectMatchingEntry(cboType, lstComments.subItem(lstComments.selectedItem(), 1));
    cboLocation.setLocked(false);
    cboLocation.setBackColor(platform::vbWindowBackground);
    SelectMatchingEntry(cboLocation, lstComments.subItem(lstComments.selectedItem(), 2));
    txtComment.setFocus();
    // The dates stay as the selection fill left them: the user starts from the row's own.
    chkDate(0).setEnabled(true);
    chkDate(1).setEnabled(true);
    DateBox(0).setEnabled(true);
    DateBox(1).setEnabled(true);
}

// Escape leaves Adding or Editing as a click on the Cancel button does. Anywhere else it is
// left to the host (a dialog holding the control closes on it).
void VendorComment::UserControl_KeyDown(int& KeyCode, int /*Shift*/) {
    constexpr int vbKeyEscape = 27;
    if (KeyCode != vbKeyEscape || cmdEdit.caption() != "Cancel" || !cmdEdit.enabled())
        return;
    KeyCode = 0;
    cmdEdit_Click();
}

// A double click edits in Browse and cancels in Adding, as the Edit/Cancel button would.
void VendorComment::lstComments_DblClick() {
    if (mintMode != 0)
        cmdEdit_Click();
}

} // namespace tavik
