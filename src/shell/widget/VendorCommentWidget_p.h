#pragma once

// The inside of VendorCommentWidget, for the library itself and for the project's own host
// and tests, which look at the control as a whole. Not installed.

#include "VendorCommentWidget.h"

#include "../../control/VendorComment.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

namespace tavik {

class VendorCommentWidgetPrivate final : public ControlObserver {
public:
    explicit VendorCommentWidgetPrivate(VendorCommentWidget* q);
    ~VendorCommentWidgetPrivate();

    static VendorCommentWidgetPrivate* get(VendorCommentWidget* widget) { return widget->d.get(); }

    void loaded(int rows) override;
    void loadFailed(const std::string& reason) override;
    void commentAdded(const std::string& sequence) override;
    void commentUpdated(const std::string& sequence) override;
    void commentDeleted(const std::string& sequence) override;
    void statementRefused(const std::string& answer) override;
    void transferFailed(const std::string& reason) override;
    void editingChanged(bool editing) override;
    void statementInFlightChanged(bool inFlight) override;
    std::optional<platform::Credentials> credentialsRequired() override;

    using LoadArguments = VendorComment::LoadArguments;
    struct PendingLoad;

    // Whether the call comes on the widget's thread; warns when not.
    bool onOwnThread(const char* call) const;
    // Fetches the document in the background, then loads it on this thread.
    void startLoad(LoadArguments arguments, bool signedInAgain = false);
    void finishLoad(std::uint64_t generation);
    void cancelPendingLoad();
    // The blocking load. The widget may be gone when it returns.
    void runLoad(const LoadArguments& arguments);
    void runLoad(const LoadArguments& arguments, platform::FetchedDocument fetched);
    // Tells the host of the properties that changed since it last heard; `reloaded` counts a
    // load as a change of the rows. False when a slot deleted the widget.
    bool notifyChanges(bool reloaded);

    VendorCommentWidget* const q;
    VendorComment control;
    std::optional<LoadArguments> lastLoad;
    std::unique_ptr<PendingLoad> pending;
    // The property values the host last heard of.
    QString shownVendorId;
    int shownMode = 0;
    int shownRowCount = 0;
};

// The control inside a widget.
inline VendorComment& controlOf(VendorCommentWidget& widget) {
    return VendorCommentWidgetPrivate::get(&widget)->control;
}

} // namespace tavik
