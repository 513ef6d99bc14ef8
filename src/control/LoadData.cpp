#include "VendorComment.h"

#include "LoadDocument.h"

#include "../platform/Locale.h"
#include "../platform/MousePointer.h"
#include "../platform/RuntimeError.h"
#include "../platform/Translatable.h"
#include "../platform/net/DocumentFetch.h"

#include <exception>
#include <optional>

namespace tavik {

namespace {

// A conversion of a load argument; its failure names the argument instead of the runtime's
// text, so a host hears which one was wrong.
template <class Convert> auto Argument(Convert convert, const std::string& failure) {
    try {
        return convert();
    } catch (const platform::RuntimeError&) {
        throw platform::RuntimeError(failure);
    }
}

} // namespace

void VendorComment::LoadData(const std::string& ptServerName, const std::string& ptVendorID,
                             const std::string& ptMode, const std::string& ptSCRN,
                             const std::string& ptPODate, const std::string& ptServerDate) {
    // The host's own call blocks until the document is there, as it always has.
    Load({ptServerName, ptVendorID, ptMode, ptSCRN, ptPODate, ptServerDate},
         [this](const std::string& url) {
             return FetchSigningIn([&] { return platform::fetchForLoad(url, mCredentials); });
         });
}

void VendorComment::LoadData(const LoadArguments& arguments, platform::FetchedDocument fetched) {
    Load(arguments, [&fetched](const std::string&) { return std::move(fetched); });
}

std::string VendorComment::LoadArguments::url() const {
    return LoadDocumentURL(server, vendor, scrn, poDate);
}

void VendorComment::setCredentials(platform::Credentials credentials) {
    mCredentials = std::move(credentials);
    Inet1.SetCredentials(mCredentials);
}

// Asks the host for credentials after the page wanted a sign-in; true when it gave some,
// which are kept for every later request.
bool VendorComment::SignInAgain() {
    std::optional<platform::Credentials> given;
    Tell([&](ControlObserver& o) { given = o.credentialsRequired(); });
    if (!given)
        return false;
    setCredentials(std::move(*given));
    return true;
}

platform::FetchedDocument
VendorComment::FetchSigningIn(const std::function<platform::FetchedDocument()>& fetch) {
    platform::FetchedDocument fetched = fetch();
    if (fetched.status == 401 && SignInAgain())
        fetched = fetch();
    return fetched;
}

// Every load, however its document is fetched: the arguments become the control state, the
// form is cleared, and the document is fetched and read.
void VendorComment::Load(
    const LoadArguments& a,
    const std::function<platform::FetchedDocument(const std::string& url)>& fetch) {
    // A failure in any step ends the load quietly; what was done before it stays done.
    try {
        mstrVendorID = a.vendor;
        mstrServerName = a.server;
        mstrServerDate = platform::generalDate(
            Argument([&] { return platform::CDate(a.serverDate); },
                     "the server date \"" + a.serverDate + "\" is not a date"));
        mstrSCRN = a.scrn;
        mstrPODate = a.poDate;
        mintMode = Argument([&] { return platform::CInt(a.mode); },
                            "the mode \"" + a.mode + "\" is not a number from -32768 to 32767");
        ApplyMode();
        ClearForm();
        platform::setMousePointer(platform::vbHourglass);
        ReadLoadDocument(
            fetch(LoadDocumentURL(mstrServerName, mstrVendorID, mstrSCRN, mstrPODate)));
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
