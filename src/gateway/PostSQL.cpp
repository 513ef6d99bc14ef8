#include "../control/VendorComment.h"

#include "StatementExchange.h"

#include "../platform/EventPump.h"

namespace tavik {

// Posts one statement to the server page and waits, handling events, until the transfer
// is over. The answer is handled by Inet1_StateChanged, normally inside this wait.
void VendorComment::PostSQL(std::string statement) {
    // In flight until Inet1_StateChanged has handled the end of this transfer.
    mblnPosting = true;
    try {
        Inet1.Cancel();
        mPosted = MakeStatementRequest(mstrServerName, statement);
        mblnSignedInAgain = false;
        Inet1.Execute(mPosted.url, "Post", mPosted.body, mPosted.headers);
    } catch (...) {
        mblnPosting = false; // no transfer started, so no end will come to clear it
        throw;
    }
    Tell([](ControlObserver& o) { o.statementInFlightChanged(true); });
    // Sleeps on the event queue between events instead of spinning.
    while (Inet1.StillExecuting()) {
        if (!WaitForEvents()) {
            AbandonStatement();
            return;
        }
    }
}

// The application quits while the statement waits: the transfer is given up, as when the
// control goes, and the editor keeps what the user entered.
void VendorComment::AbandonStatement() {
    Inet1.Cancel();
    mblnDeleting = false;
    mstrDeletingSequence.clear();
    mblnPosting = false;
    Tell([](ControlObserver& o) { o.statementInFlightChanged(false); });
}

} // namespace tavik
