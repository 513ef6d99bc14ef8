#include "VendorComment.h"

#include "Layout.h"

#include "../platform/Locale.h"
#include "../platform/MessageBox.h"
#include "../platform/Translatable.h"

namespace tavik {

VendorComment::VendorComment()
    : form_(platform::createForm(designLayout(), *this)), cmdAdd(form_->cmdAdd()),
      cmdEdit(form_->cmdEdit()), cmdDelete(form_->cmdDelete()), txtComment(form_->txtComment()),
      cboType(form_->cboType()), cboLocation(form_->cboLocation()),
      lstComments(form_->lstComments()), lblVersionNumber(form_->lblVersionNumber()),
      Inet1(form_->Inet1()) {
    Initialize();
}

VendorComment::~VendorComment() = default;

int VendorComment::versionMajor() {
    return VENDORCOMMENT_VERSION_MAJOR;
}
int VendorComment::versionMinor() {
    return VENDORCOMMENT_VERSION_MINOR;
}
int VendorComment::versionRevision() {
    return VENDORCOMMENT_VERSION_REVISION;
}

// Builds the comment list's columns from the list's width and writes the version label.
void VendorComment::Initialize() {
    const double W = platform::CInt(lstComments.width());
    lstComments.addColumn(TAVIK_TR("tavik::VendorComment", "Comment"), W / 2.16);
    lstComments.addColumn(TAVIK_TR("tavik::VendorComment", "Type"), W / 6.5);
    lstComments.addColumn(TAVIK_TR("tavik::VendorComment", "Location"), W / 8);
    lstComments.addColumn(TAVIK_TR("tavik::VendorComment", "Effective Date"), W / 8);
    lstComments.addColumn(TAVIK_TR("tavik::VendorComment", "Expires Date"), W / 8);
    lstComments.addColumn("CommentSequence", 0);

    lblVersionNumber.setCaption("Version Number: " + std::to_string(versionMajor()) + "." +
                                std::to_string(versionMinor()) + "." +
                                std::to_string(versionRevision()));
}

int VendorComment::MsgBox(const std::string& prompt, int style, const std::string& title) {
    const auto alive = alive_.watch();
    const int answer = platform::MsgBox(prompt, style, title, form_.get());
    alive.check();
    return answer;
}

void VendorComment::DoEvents() {
    const auto alive = alive_.watch();
    platform::DoEvents();
    alive.check();
}

bool VendorComment::WaitForEvents() {
    const auto alive = alive_.watch();
    const bool goOn = platform::WaitForEvents();
    alive.check();
    return goOn;
}

// The editor's state; the host hears when it goes from Browse to Adding or Editing and back.
void VendorComment::SetAction(std::string action) {
    const bool was = editing();
    mstrAction = std::move(action);
    if (editing() != was)
        Tell([editing = editing()](ControlObserver& o) { o.editingChanged(editing); });
}

VendorComment::State VendorComment::state() const {
    return {mstrAction,     mintMode,     mstrVendorID,   mstrEffective, mstrExpires, mstrSequence,
            mstrServerName, mblnDeleting, mstrServerDate, mstrSCRN,      mstrPODate};
}

} // namespace tavik
