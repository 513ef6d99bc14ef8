#include "../control/VendorComment.h"

#include "SelectionRules.h"

#include "../common/Text.h"
#include "../platform/RuntimeError.h"

#include <exception>

namespace tavik {

// A row's CommentSequence as the key of its statements.
std::string VendorComment::RowKey(int row) const {
    return CommentSequenceKey(lstComments.subItem(row, 5));
}

// Selects the first entry whose text equals `text` exactly; no match leaves the selection.
void VendorComment::SelectMatchingEntry(platform::ComboBox& combo, const std::string& text) {
    const int match = MatchingEntry(
        combo.listCount(), [&](int i) { return combo.list(i); }, text);
    if (match >= 0)
        combo.setListIndex(match);
}

// Shows one of the row's optional dates: its check box, then the picker's date.
void VendorComment::FillDate(int Index, const std::string& dateText) {
    const std::string t(common::trimSpaces(dateText));
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
    bool copying = false; // the selected row is being copied into the editor
    // A failure ends the fill quietly; the steps before it keep their effect.
    try {
        // A delete in flight keeps its flag until its answer has been handled, or a row
        // selected meanwhile would turn its acceptance into that of a save.
        if (!mblnPosting)
            mblnDeleting = false;
        if (lstComments.count() == 0)
            return;
        DateBox(0).setValue(mstrServerDate);
        DateBox(1).setValue(mstrServerDate);
        // Only Browse shows the selected row; Adding and Editing keep what the user entered.
        if (!mstrAction.empty())
            return;
        // With no row selected, Edit and Delete would act on a row that is not shown.
        if (lstComments.selectedIndex() < 0) {
            if (mintMode != 0) {
                cmdEdit.setEnabled(false);
                cmdDelete.setEnabled(false);
            }
            return;
        }

        copying = true;
        txtComment.setText(lstComments.itemText(lstComments.selectedItem()));
        SelectMatchingEntry(cboType, lstComments.subItem(lstComments.selectedItem(), 1));
        SelectMatchingEntry(cboLocation, lstComments.subItem(lstComments.selectedItem(), 2));
        FillDate(0, lstComments.subItem(lstComments.selectedItem(), 3));
        FillDate(1, lstComments.subItem(lstComments.selectedItem(), 4));
        mstrSequence = RowKey(lstComments.selectedItem());

        if (mintMode != 0) {
            const bool hasSequence = !mstrSequence.empty();
            cmdEdit.setEnabled(hasSequence);
            cmdDelete.setEnabled(hasSequence);
        }
    } catch (const std::exception& error) {
        platform::Trapped("lstComments_Click", error);
        // A copy that stopped part way (a date the picker refuses) shows this row without
        // its key; the key and the buttons left from the row shown before would edit or
        // delete that row instead.
        if (copying) {
            mstrSequence.clear();
            if (mintMode != 0) {
                cmdEdit.setEnabled(false);
                cmdDelete.setEnabled(false);
            }
        }
    }
}

// Releasing Up or Down shows the row the arrow is on, even when it did not move. Every key
// that moves the selection has already shown the row through the list's Click.
void VendorComment::lstComments_KeyUp(int KeyCode, int /*Shift*/) {
    constexpr int vbKeyUp = 38;
    constexpr int vbKeyDown = 40;
    if (KeyCode == vbKeyUp || KeyCode == vbKeyDown)
        lstComments_Click();
}

// The rows keep the server's order: a header click neither sorts nor selects.
void VendorComment::lstComments_ColumnClick(int /*column*/) {}

} // namespace tavik
