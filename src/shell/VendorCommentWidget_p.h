#pragma once

// The inside of VendorCommentWidget, for the library itself and for the project's own host
// and tests, which look at the control as a whole. Not installed.

#include "VendorCommentWidget.h"

#include "../control/VendorComment.h"

namespace tavik {

class VendorCommentWidgetPrivate final : public ControlObserver {
public:
    explicit VendorCommentWidgetPrivate(VendorCommentWidget* q);

    static VendorCommentWidgetPrivate* get(VendorCommentWidget* widget) { return widget->d.get(); }

    void loaded(int rows) override;
    void loadFailed(const std::string& reason) override;
    void commentAdded() override;
    void commentUpdated() override;
    void commentDeleted() override;
    void statementRefused(const std::string& answer) override;
    void transferFailed() override;

    VendorCommentWidget* const q;
    VendorComment control;
};

// The control inside a widget.
inline VendorComment& controlOf(VendorCommentWidget& widget) {
    return VendorCommentWidgetPrivate::get(&widget)->control;
}

} // namespace tavik
