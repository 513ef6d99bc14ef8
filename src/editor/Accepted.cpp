#include "../control/VendorComment.h"

#include "../platform/EventPump.h"
#include "../platform/Locale.h"
#include "../platform/MousePointer.h"
#include "../platform/net/DocumentFetch.h"

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

// Fetches a load document off the user-interface thread, waiting as the statement wait does,
// with the busy pointer.
platform::FetchedDocument VendorComment::FetchInBackground(const std::string& url) {
    platform::setMousePointer(platform::vbHourglass);
    return FetchSigningIn([&] {
        platform::BackgroundFetch fetch(url, mCredentials, &platform::WakeWaiters);
        while (!fetch.done())
            WaitForEvents();
        return fetch.take();
    });
}

// What an accepted statement changes: the list shows the change, and the editor returns to
// Browse.
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
        // Reload everything, the new comment with its server-made sequence included. The
        // document is fetched in the background while the window goes on with its events, as
        // in the statement's wait; the statement counts as in flight until the reload is read.
        const LoadArguments stored{mstrServerName, mstrVendorID, std::to_string(mintMode),
                                   mstrSCRN,       mstrPODate,   mstrServerDate};
        LoadData(stored, FetchInBackground(stored.url()));
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
