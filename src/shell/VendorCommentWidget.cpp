#include "VendorCommentWidget_p.h"

#include "../platform/qt/QtForm.h"

namespace tavik {

VendorCommentWidgetPrivate::VendorCommentWidgetPrivate(VendorCommentWidget* widget) : q(widget) {
    control.setObserver(this);
}

void VendorCommentWidgetPrivate::loaded(int rows) {
    emit q->loaded(rows);
}
void VendorCommentWidgetPrivate::loadFailed(const std::string& reason) {
    emit q->loadFailed(QString::fromStdString(reason));
}
void VendorCommentWidgetPrivate::commentAdded() {
    emit q->commentAdded();
}
void VendorCommentWidgetPrivate::commentUpdated() {
    emit q->commentUpdated();
}
void VendorCommentWidgetPrivate::commentDeleted() {
    emit q->commentDeleted();
}
void VendorCommentWidgetPrivate::statementRefused(const std::string& answer) {
    emit q->statementRefused(QString::fromStdString(answer));
}
void VendorCommentWidgetPrivate::transferFailed() {
    emit q->transferFailed();
}

VendorCommentWidget::VendorCommentWidget(QWidget* parent)
    : QWidget(parent), d(std::make_unique<VendorCommentWidgetPrivate>(this)) {
    QWidget* form = platform::qt::widgetOf(d->control.form());
    form->setParent(this);
    form->move(0, 0);
    // Nothing moves on resize: a layout may not squeeze the control below its design size.
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusProxy(platform::qt::findWidget(d->control.form(), "lstComments"));
    resize(form->sizeHint());
}

VendorCommentWidget::~VendorCommentWidget() {
    // The control reports to nobody while it is taken down.
    d->control.setObserver(nullptr);
}

void VendorCommentWidget::LoadData(const std::string& ptServerName, const std::string& ptVendorID,
                                   const std::string& ptMode, const std::string& ptSCRN,
                                   const std::string& ptPODate, const std::string& ptServerDate) {
    d->control.LoadData(ptServerName, ptVendorID, ptMode, ptSCRN, ptPODate, ptServerDate);
}

void VendorCommentWidget::loadData(const QUrl& server, const QString& vendorId, Mode mode,
                                   const QString& scrn, const QString& poDate,
                                   const QDate& serverDate) {
    // The server date as the control's hosts pass it: M/d/yyyy; an invalid date stays
    // empty, which the load refuses as it refuses any text that is not a date.
    const QString date =
        serverDate.isValid() ? serverDate.toString(QStringLiteral("M/d/yyyy")) : QString();
    LoadData(server.toString(QUrl::FullyEncoded).toStdString(), vendorId.toStdString(),
             std::to_string(int(mode)), scrn.toStdString(), poDate.toStdString(),
             date.toStdString());
}

QString VendorCommentWidget::vendorId() const {
    return QString::fromStdString(d->control.state().mstrVendorID);
}

VendorCommentWidget::Mode VendorCommentWidget::mode() const {
    return Mode(d->control.state().mintMode);
}

int VendorCommentWidget::rowCount() const {
    return d->control.form().lstComments().count();
}

QSize VendorCommentWidget::sizeHint() const {
    return platform::qt::widgetOf(d->control.form())->sizeHint();
}

QSize VendorCommentWidget::minimumSizeHint() const {
    return sizeHint();
}

} // namespace tavik
