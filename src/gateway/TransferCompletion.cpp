#include "../control/VendorComment.h"

#include "StatementExchange.h"

#include "../platform/EventPump.h"
#include "../platform/Locale.h"
#include "../platform/MessageBox.h"
#include "../platform/MousePointer.h"
#include "../platform/RuntimeError.h"

#include <exception>
#include <set>

namespace tavik {

namespace {

// The text a combo box shows: its selected entry's, or nothing.
std::string DisplayedText(const platform::ComboBox& combo) {
    const int index = combo.listIndex();
    return index < 0 ? std::string() : combo.list(index);
}

// A captured date as the list shows an edited row's dates: "MMM dd, yyyy", or empty.
std::string ListDate(const std::string& dateText) {
    return dateText.empty() ? std::string() : platform::formatMMMddyyyy(platform::CDate(dateText));
}

} // namespace

// The end of every posted statement: reports a failed transfer or a refused statement,
// or applies the accepted change to the list and returns the editor to Browse.
void VendorComment::Inet1_StateChanged(int State) {
    platform::setMousePointer(platform::vbDefault);
    if (State != platform::icError && State != platform::icResponseCompleted)
        return;

    Outcome outcome = Outcome::None;
    std::string strResponse;
    std::string strReason;   // why a transfer failed
    std::string strSequence; // the key of the comment the statement changed
    // A failure ends the handling quietly; the steps before it keep their effect.
    try {
        if (State == platform::icError) {
            outcome = Outcome::Failed;
            strReason = Inet1.ResponseInfo();
            MsgBox(" Error !  ", platform::vbExclamation, "ERROR");
        } else {
            // Read the whole answer, letting the user's events run between the chunks.
            std::string vtData = Inet1.GetChunk(1024, platform::icString);
            DoEvents();
            bool blnDone = false;
            while (!blnDone) {
                strResponse += vtData;
                vtData = Inet1.GetChunk(1024, platform::icString);
                DoEvents();
                if (vtData.empty())
                    blnDone = true;
            }

            switch (JudgeStatementAnswer(Inet1.ResponseCode(), strResponse)) {
            case StatementAnswer::Refused:
                outcome = Outcome::Refused;
                MsgBox(strResponse + "   Unsuccessful attempt ", platform::vbCritical,
                       "Vendor  Comment - ERROR");
                break;
            case StatementAnswer::Failed:
                outcome = Outcome::Failed;
                strReason = "HTTP status " + std::to_string(Inet1.ResponseCode());
                MsgBox(" Error !  ", platform::vbExclamation, "ERROR");
                break;
            case StatementAnswer::Accepted:
                if (mblnDeleting) {
                    outcome = Outcome::Deleted;
                    strSequence = mstrDeletingSequence;
                    AcceptedDelete();
                } else {
                    outcome = mstrAction == "Add"    ? Outcome::Added
                              : mstrAction == "Edit" ? Outcome::Updated
                                                     : Outcome::None;
                    strSequence = AcceptedSave();
                }
                break;
            }
        }
    } catch (const std::exception& error) {
        platform::Trapped("Inet1_StateChanged", error);
    }
    // However the handling of a final state ended, the delete it may have carried is over,
    // so a later accepted save is never taken for a delete, and the next statement may go.
    mblnDeleting = false;
    mstrDeletingSequence.clear();
    mblnPosting = false;
    Tell([](ControlObserver& o) { o.statementInFlightChanged(false); });
    Report(outcome, outcome == Outcome::Failed ? strReason : strResponse, strSequence);
}

// Tells the observer what the user saw the statement come to, once its end is handled.
void VendorComment::Report(Outcome outcome, const std::string& answer,
                           const std::string& sequence) {
    Tell([&](ControlObserver& o) {
        switch (outcome) {
        case Outcome::None:
            break;
        case Outcome::Failed:
            o.transferFailed(answer.empty() ? "the transfer failed" : answer);
            break;
        case Outcome::Refused:
            o.statementRefused(answer);
            break;
        case Outcome::Added:
            o.commentAdded(sequence);
            break;
        case Outcome::Updated:
            o.commentUpdated(sequence);
            break;
        case Outcome::Deleted:
            o.commentDeleted(sequence);
            break;
        }
    });
}

void VendorComment::AcceptedDelete() {
    // The row whose key was deleted leaves the list, even if the user selected another one
    // while the statement was in flight.
    int row = lstComments.selectedIndex();
    if (row < 0 || RowKey(row) != mstrDeletingSequence) {
        row = -1;
        for (int i = 0; i < lstComments.count() && row < 0; ++i)
            if (RowKey(i) == mstrDeletingSequence)
                row = i;
    }
    if (row >= 0)
        lstComments.remove(row);
    cmdDelete.setEnabled(false);
    cmdEdit.setEnabled(false);
    txtComment.setText("");
    chkDate(0).setValue(0);
    chkDate_Click(0);
    chkDate(1).setValue(0);
    chkDate_Click(1);
    cboType.setListIndex(-1);
    cboLocation.setListIndex(-1);
    mblnDeleting = false;
}

// Returns the key of the saved comment: the edited row's, or the added row's when the
// reload shows exactly one key that was not there before.
std::string VendorComment::AcceptedSave() {
    std::string sequence = mstrAction == "Edit" ? mstrSequence : std::string();
    ReleaseList();
    if (mstrAction == "Add") {
        std::set<std::string> before;
        for (int i = 0; i < lstComments.count(); ++i)
            before.insert(RowKey(i));
        // Reload everything, the new comment with its server-made sequence included.
        LoadData(mstrServerName, mstrVendorID, std::to_string(mintMode), mstrSCRN, mstrPODate,
                 mstrServerDate);
        int added = 0;
        for (int i = 0; i < lstComments.count(); ++i) {
            if (!before.contains(RowKey(i))) {
                ++added;
                sequence = RowKey(i);
            }
        }
        if (added != 1)
            sequence.clear();
    }
    if (mstrAction == "Edit") {
        // Rewrite the edited row where it stands; its sequence stays.
        lstComments.setItemText(lstComments.selectedItem(), txtComment.text());
        lstComments.setSubItem(lstComments.selectedItem(), 1, DisplayedText(cboType));
        lstComments.setSubItem(lstComments.selectedItem(), 2, DisplayedText(cboLocation));
        lstComments.setSubItem(lstComments.selectedItem(), 3, ListDate(mstrEffective));
        lstComments.setSubItem(lstComments.selectedItem(), 4, ListDate(mstrExpires));
    }
    CloseEditor();
    return sequence;
}

} // namespace tavik
