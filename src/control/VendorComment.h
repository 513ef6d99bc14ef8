#pragma once

#include "ControlObserver.h"

#include "../gateway/StatementExchange.h"
#include "../platform/Credentials.h"
#include "../platform/EventPump.h"
#include "../platform/Form.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tavik::platform {
struct FetchedDocument;
}

namespace tavik {

// The vendor comment control: shows and maintains the free-text comments a server keeps
// for one vendor. A host creates it and calls LoadData; everything else is the user's.
//
// The control's procedures and event handlers live in the folders of the behaviour they
// belong to: control/ (state, LoadData, the load document, layout, lifecycle), gateway/
// (URLEncode, PostSQL, transfer completion), editor/ (editor states, Save, what an accepted
// statement changes, statements, Edit/Cancel, Delete, date inputs) and list/ (the selection
// fill).
class VendorComment final : private platform::FormEvents {
public:
    VendorComment();
    ~VendorComment();
    VendorComment(const VendorComment&) = delete;
    VendorComment& operator=(const VendorComment&) = delete;

    // Stores the arguments as the control state, applies the permission mode, clears the
    // form and loads the vendor's lookup lists and comments. Never fails to its caller; only
    // when the observer destroyed the control while hearing of the load does it throw
    // platform::Abandoned, and the caller then touches the control no more.
    void LoadData(const std::string& ptServerName, const std::string& ptVendorID,
                  const std::string& ptMode, const std::string& ptSCRN, const std::string& ptPODate,
                  const std::string& ptServerDate);

    // LoadData's six arguments, in order.
    struct LoadArguments {
        std::string server, vendor, mode, scrn, poDate, serverDate;
        // The load document's address for them.
        std::string url() const;
    };
    // LoadData with the document already fetched for these arguments (in the background, so
    // the user-interface thread never waited for it).
    void LoadData(const LoadArguments& arguments, platform::FetchedDocument fetched);

    // The credentials for the load and the statements from now on; empty ones leave it to the
    // server prefix and ~/.netrc.
    void setCredentials(platform::Credentials credentials);
    const platform::Credentials& credentials() const { return mCredentials; }

    // The control state, for hosts and tests that observe the control.
    struct State {
        std::string mstrAction;
        std::int16_t mintMode;
        std::string mstrVendorID, mstrEffective, mstrExpires, mstrSequence, mstrServerName;
        bool mblnDeleting;
        std::string mstrServerDate, mstrSCRN, mstrPODate;
    };
    State state() const;

    // True from the moment a Save or Delete starts posting its statement until the end of
    // that transfer has been handled, the event pumps of that handling included.
    bool statementInFlight() const { return mblnPosting; }

    platform::Form& form() { return *form_; }

    // Where the control reports loads and the server's answers; null for nobody. The
    // observer must outlive the control or be replaced first.
    void setObserver(ControlObserver* observer) { observer_ = observer; }

    // True while the editor is in Adding or Editing.
    bool editing() const { return !mstrAction.empty(); }

    // The component's version, from the build.
    static int versionMajor();
    static int versionMinor();
    static int versionRevision();

private:
    // control/
    // The control's waits: each returns only while the control still exists. When the host
    // destroyed it meanwhile they throw platform::Abandoned, which the platform catches at
    // the end of the event, so nothing of the destroyed control is touched again.
    int MsgBox(const std::string& prompt, int style, const std::string& title);
    void DoEvents();
    bool WaitForEvents(); // false when the application quits
    template <class Heard> void Tell(Heard report);
    void SetAction(std::string action);

    void Initialize();
    void ApplyMode();
    void ClearForm();
    void Load(const LoadArguments& arguments,
              const std::function<platform::FetchedDocument(const std::string& url)>& fetch);
    void ReadLoadDocument(platform::FetchedDocument fetched);
    platform::FetchedDocument FetchInBackground(const std::string& url);
    // Fetches, and once more after the host signed in anew when the page wanted a sign-in.
    platform::FetchedDocument
    FetchSigningIn(const std::function<platform::FetchedDocument()>& fetch);
    bool SignInAgain();

    // gateway/
    void PostSQL(std::string statement);
    void AbandonStatement();
    void Inet1_StateChanged(int State) override;
    // What the end of a statement's transfer came to, as the observer hears it.
    enum class Outcome { None, Failed, Refused, Added, Updated, Deleted };
    void Report(Outcome outcome, const std::string& answer, const std::string& sequence);

    // editor/
    void AcceptedDelete();
    std::string AcceptedSave();
    void cmdAdd_Click() override;
    void BeginAdding();
    void Save();
    void cmdEdit_Click() override;
    void CancelEditing();
    void ReleaseList();
    void CloseEditor();
    void BeginEditing();
    void cmdDelete_Click() override;
    void chkDate_Click(int Index) override;
    void txtComment_KeyPress(int& KeyAscii) override;
    void lstComments_DblClick() override;
    void UserControl_KeyDown(int& KeyCode, int Shift) override;

    // list/
    void lstComments_Click() override;
    std::string RowKey(int row) const;
    static void SelectMatchingEntry(platform::ComboBox& combo, const std::string& text);
    void FillDate(int Index, const std::string& dateText);
    void lstComments_KeyUp(int KeyCode, int Shift) override;
    void lstComments_ColumnClick(int column) override;

    // The control state. Strings start empty, mintMode at 0, mblnDeleting at false.
    std::string mstrAction;
    std::int16_t mintMode = 0;
    std::string mstrVendorID;
    std::string mstrEffective;
    std::string mstrExpires;
    std::string mstrSequence;
    std::string mstrServerName;
    bool mblnDeleting = false;
    std::string mstrServerDate;
    std::string mstrSCRN;
    std::string mstrPODate;

    // Beside the control state: the statement in flight (guards against a second Save or
    // Delete while one is posted or its answer is read) and the key of a delete in flight
    // (its row leaves the list even if the selection moved meanwhile).
    bool mblnPosting = false;
    std::string mstrDeletingSequence;
    // The statement posted last, to post again once after the host signed in anew, and
    // whether that has been done.
    StatementRequest mPosted;
    bool mblnSignedInAgain = false;
    platform::Credentials mCredentials;

    std::unique_ptr<platform::Form> form_;
    ControlObserver* observer_ = nullptr;
    platform::Liveness alive_;

    // The form's widgets, by their names.
    platform::CommandButton& cmdAdd;
    platform::CommandButton& cmdEdit;
    platform::CommandButton& cmdDelete;
    platform::TextBox& txtComment;
    platform::ComboBox& cboType;
    platform::ComboBox& cboLocation;
    platform::ListView& lstComments;
    platform::Label& lblVersionNumber;
    platform::Inet& Inet1;
    platform::CheckBox& chkDate(int index) { return form_->chkDate(index); }
    platform::DatePicker& DateBox(int index) { return form_->DateBox(index); }
};

// Reports to the observer, which may destroy the control while it hears of it.
template <class Heard> void VendorComment::Tell(Heard report) {
    if (!observer_)
        return;
    const auto alive = alive_.watch();
    report(*observer_);
    alive.check();
}

} // namespace tavik
