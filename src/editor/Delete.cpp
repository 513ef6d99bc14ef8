#include "../control/VendorComment.h"

#include "Statements.h"

#include "../platform/MessageBox.h"
#include "../platform/RuntimeError.h"
#include "../platform/Translatable.h"

#include <exception>

namespace tavik {

// Deletes the selected comment after the user confirms; the row leaves the list when the
// server accepts (Inet1_StateChanged).
void VendorComment::cmdDelete_Click() {
    // One statement at a time: a second click while one is in flight, until its answer has
    // been handled, does nothing.
    if (mblnPosting)
        return;
    try {
        if (MsgBox(TAVIK_TR("tavik::VendorComment", "Do you want to delete the selected comment"),
                   platform::vbYesNo + platform::vbQuestion,
                   TAVIK_TR("tavik::VendorComment", "Vendor Comments")) != platform::vbYes)
            return;
        mblnDeleting = true;
        mstrDeletingSequence = mstrSequence;
        PostSQL(DeleteStatement(mstrVendorID, mstrSequence));
    } catch (const std::exception& error) {
        platform::Trapped("cmdDelete_Click", error);
        // No transfer carries the delete, so no later answer may be taken for it.
        mblnDeleting = false;
        mstrDeletingSequence.clear();
    }
}

} // namespace tavik
