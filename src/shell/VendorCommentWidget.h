#pragma once

#include "../control/VendorComment.h"

#include <QWidget>

// The control as a QWidget, for Qt hosts: place it, then call LoadData.
class VendorCommentWidget : public QWidget {
    Q_OBJECT
public:
    explicit VendorCommentWidget(QWidget* parent = nullptr);
    ~VendorCommentWidget() override;

    void LoadData(const std::string& ptServerName, const std::string& ptVendorID,
                  const std::string& ptMode, const std::string& ptSCRN, const std::string& ptPODate,
                  const std::string& ptServerDate);

    VendorComment& control() { return control_; }
    QSize sizeHint() const override;

private:
    VendorComment control_;
};
