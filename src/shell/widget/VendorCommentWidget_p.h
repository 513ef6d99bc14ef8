#pragma once

// The inside of VendorCommentWidget, for the library itself and for the project's own host
// and tests, which look at the control as a whole. Not installed.

#include "VendorCommentWidget.h"

#include "../../control/VendorComment.h"

#include <memory>
#include <optional>
#include <vector>

class QThread;

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

    // A load's arguments as the control takes them.
    struct LoadArguments {
        std::string server, vendor, mode, scrn, poDate, serverDate;
    };
    struct PendingLoad;

    // Whether the call comes on the widget's thread; warns when not.
    bool onOwnThread(const char* call) const;
    // Fetches the document on a thread of its own, then loads it on this one.
    void startLoad(LoadArguments arguments);
    void finishLoad(const std::shared_ptr<PendingLoad>& load);
    void cancelPendingLoad();
    // The blocking load. The widget may be gone when it returns.
    void runLoad(const LoadArguments& arguments);

    VendorCommentWidget* const q;
    VendorComment control;
    std::optional<LoadArguments> lastLoad;
    std::shared_ptr<PendingLoad> pending;
    std::vector<QThread*> fetchers; // running or finished, not yet reaped
};

// The control inside a widget.
inline VendorComment& controlOf(VendorCommentWidget& widget) {
    return VendorCommentWidgetPrivate::get(&widget)->control;
}

} // namespace tavik
