#include "VendorCommentWidget.h"

#include "../platform/qt/QtForm.h"

VendorCommentWidget::VendorCommentWidget(QWidget* parent) : QWidget(parent) {
    QWidget* form = platform::qt::widgetOf(control_.form());
    form->setParent(this);
    form->move(0, 0);
    resize(form->sizeHint());
}

VendorCommentWidget::~VendorCommentWidget() = default;

void VendorCommentWidget::LoadData(const std::string& ptServerName, const std::string& ptVendorID,
                                   const std::string& ptMode, const std::string& ptSCRN,
                                   const std::string& ptPODate, const std::string& ptServerDate) {
    control_.LoadData(ptServerName, ptVendorID, ptMode, ptSCRN, ptPODate, ptServerDate);
}

QSize VendorCommentWidget::sizeHint() const {
    return platform::qt::widgetOf(const_cast<VendorComment&>(control_).form())->sizeHint();
}
