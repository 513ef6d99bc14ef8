#include "../control/VendorComment.h"

#include <exception>

namespace {

// Leading and trailing spaces removed (spaces only; tabs and line breaks stay).
std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

} // namespace

// Selects the first entry whose text equals `text` exactly; no match leaves the selection.
void VendorComment::SelectMatchingEntry(platform::ComboBox& combo, const std::string& text) {
    for (int i = 0; i < combo.listCount(); ++i) {
        if (combo.list(i) == text) {
            combo.setListIndex(i);
            return;
        }
    }
}

// Shows one of the row's optional dates: its check box, then the picker's date.
void VendorComment::FillDate(int Index, const std::string& dateText) {
    const std::string t = Trim(dateText);
    if (!t.empty()) {
        chkDate(Index).setValue(1);
        DateBox(Index).setValue(t);
    } else {
        chkDate(Index).setValue(0);
    }
    chkDate_Click(Index);
}

// The selection fill: copies the selected comment row into the editor.
void VendorComment::lstComments_Click() {
    // A failure ends the fill quietly; the steps before it keep their effect.
    try {
        mblnDeleting = false;
        if (lstComments.count() == 0)
            return;
        DateBox(0).setValue(mstrServerDate);
        DateBox(1).setValue(mstrServerDate);
        // Only Browse shows the selected row; Adding and Editing keep what the user entered.
        if (!mstrAction.empty())
            return;

        txtComment.setText(lstComments.itemText(lstComments.selectedItem()));
        SelectMatchingEntry(cboType, lstComments.subItem(lstComments.selectedItem(), 1));
        SelectMatchingEntry(cboLocation, lstComments.subItem(lstComments.selectedItem(), 2));
        FillDate(0, lstComments.subItem(lstComments.selectedItem(), 3));
        FillDate(1, lstComments.subItem(lstComments.selectedItem(), 4));
        mstrSequence = Trim(lstComments.subItem(lstComments.selectedItem(), 5));

        if (mintMode != 0) {
            const bool hasSequence = !mstrSequence.empty();
            cmdEdit.setEnabled(hasSequence);
            cmdDelete.setEnabled(hasSequence);
        }
    } catch (const std::exception&) {
    }
}

// Releasing Up or Down shows the row the arrow moved to; other keys leave the editor.
void VendorComment::lstComments_KeyUp(int KeyCode, int /*Shift*/) {
    constexpr int vbKeyUp = 38;
    constexpr int vbKeyDown = 40;
    if (KeyCode == vbKeyUp || KeyCode == vbKeyDown)
        lstComments_Click();
}

// The rows keep the server's order: a header click neither sorts nor selects.
void VendorComment::lstComments_ColumnClick(int /*column*/) {}
