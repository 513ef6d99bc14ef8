#include "../control/VendorComment.h"

#include "StatementExchange.h"

#include "../platform/EventPump.h"
#include "../platform/MessageBox.h"
#include "../platform/MousePointer.h"
#include "../platform/RuntimeError.h"
#include "../platform/Translatable.h"

#include <exception>

namespace tavik {

// The end of every posted statement: reports a failed transfer or a refused statement,
// or applies the accepted change to the list and returns the editor to Browse.
void VendorComment::Inet1_StateChanged(int State) {
    platform::setMousePointer(platform::vbDefault);
    if (State != platform::icError && State != platform::icResponseCompleted)
        return;
    // A page that wants a sign-in gets the statement once more when the host signs in anew;
    // the wait in PostSQL goes on for that transfer.
    if (State == platform::icResponseCompleted && Inet1.ResponseCode() == 401 &&
        !mblnSignedInAgain) {
        mblnSignedInAgain = true;
        try {
            if (SignInAgain()) {
                Inet1.Execute(mPosted.url, "Post", mPosted.body, mPosted.headers);
                return;
            }
        } catch (const platform::RuntimeError& error) {
            platform::Trapped("Inet1_StateChanged", error);
        }
    }

    Outcome outcome = Outcome::None;
    std::string strResponse;
    std::string strReason;   // why a transfer failed
    std::string strSequence; // the key of the comment the statement changed
    // A failure ends the handling quietly; the steps before it keep their effect.
    try {
        if (State == platform::icError) {
            outcome = Outcome::Failed;
            strReason = Inet1.ResponseInfo();
            MsgBox(TAVIK_TR("tavik::VendorComment", " Error !  "), platform::vbExclamation,
                   TAVIK_TR("tavik::VendorComment", "ERROR"));
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
                       TAVIK_TR("tavik::VendorComment", "Vendor  Comment - ERROR"));
                break;
            case StatementAnswer::Failed:
                outcome = Outcome::Failed;
                strReason = "HTTP status " + std::to_string(Inet1.ResponseCode());
                MsgBox(TAVIK_TR("tavik::VendorComment", " Error !  "), platform::vbExclamation,
                       TAVIK_TR("tavik::VendorComment", "ERROR"));
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

} // namespace tavik
