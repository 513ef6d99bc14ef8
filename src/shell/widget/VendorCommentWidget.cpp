#include "VendorCommentWidget_p.h"

#include "../../control/LoadDocument.h"
#include "../../platform/XmlDocument.h"
#include "../../platform/net/DocumentFetch.h"
#include "../../platform/qt/Logging.h"
#include "../../platform/qt/QtForm.h"
#include "../../platform/qt/WidgetSupport.h"

#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>

namespace tavik {

struct VendorCommentWidgetPrivate::PendingLoad {
    LoadArguments arguments;
    std::string url;
    std::atomic<bool> cancel{false};
    platform::FetchedDocument fetched; // written by the fetching thread, read after it ended
};

VendorCommentWidgetPrivate::VendorCommentWidgetPrivate(VendorCommentWidget* widget) : q(widget) {
    control.setObserver(this);
}

VendorCommentWidgetPrivate::~VendorCommentWidgetPrivate() {
    // A fetch still running is told to stop; curl notices within a second at most.
    if (pending)
        pending->cancel = true;
    for (QThread* fetcher : fetchers) {
        fetcher->wait();
        delete fetcher;
    }
}

void VendorCommentWidgetPrivate::loaded(int rows) {
    emit q->loaded(rows);
}
void VendorCommentWidgetPrivate::loadFailed(const std::string& reason) {
    emit q->loadFailed(QString::fromStdString(reason));
}
void VendorCommentWidgetPrivate::commentAdded(const std::string& sequence) {
    emit q->commentAdded(QString::fromStdString(sequence));
}
void VendorCommentWidgetPrivate::commentUpdated(const std::string& sequence) {
    emit q->commentUpdated(QString::fromStdString(sequence));
}
void VendorCommentWidgetPrivate::commentDeleted(const std::string& sequence) {
    emit q->commentDeleted(QString::fromStdString(sequence));
}
void VendorCommentWidgetPrivate::statementRefused(const std::string& answer) {
    emit q->statementRefused(QString::fromStdString(answer));
}
void VendorCommentWidgetPrivate::transferFailed(const std::string& reason) {
    emit q->transferFailed(QString::fromStdString(reason));
}
void VendorCommentWidgetPrivate::editingChanged(bool editing) {
    emit q->editingChanged(editing);
}
void VendorCommentWidgetPrivate::statementInFlightChanged(bool inFlight) {
    emit q->statementInFlightChanged(inFlight);
}

bool VendorCommentWidgetPrivate::onOwnThread(const char* call) const {
    if (QThread::currentThread() == q->thread())
        return true;
    qCWarning(platform::qt::lcWidget,
              "tavik::VendorCommentWidget::%s: called from a thread other than the widget's; "
              "ignored",
              call);
    return false;
}

void VendorCommentWidgetPrivate::startLoad(LoadArguments arguments) {
    cancelPendingLoad();
    lastLoad = arguments;
    auto load = std::make_shared<PendingLoad>();
    load->url =
        LoadDocumentURL(arguments.server, arguments.vendor, arguments.scrn, arguments.poDate);
    load->arguments = std::move(arguments);
    pending = load;
    QThread* fetcher = QThread::create(
        [load] { load->fetched = platform::fetchForLoad(load->url, &load->cancel); });
    fetchers.push_back(fetcher);
    QObject::connect(fetcher, &QThread::finished, q, [this, fetcher, load] {
        fetcher->wait();
        fetchers.erase(std::find(fetchers.begin(), fetchers.end(), fetcher));
        delete fetcher;
        finishLoad(load);
    });
    q->setCursor(Qt::BusyCursor);
    fetcher->start();
}

void VendorCommentWidgetPrivate::finishLoad(const std::shared_ptr<PendingLoad>& load) {
    if (load != pending)
        return; // superseded
    // The lists are not refilled under a statement waiting for its answer; the load follows
    // once that answer has been handled.
    if (control.statementInFlight()) {
        QTimer::singleShot(20, q, [this, load] { finishLoad(load); });
        return;
    }
    pending.reset();
    q->unsetCursor();
    const platform::HandedOverDocument document(load->url, std::move(load->fetched));
    runLoad(load->arguments);
}

void VendorCommentWidgetPrivate::cancelPendingLoad() {
    if (!pending)
        return;
    pending->cancel = true;
    pending.reset();
    q->unsetCursor();
}

void VendorCommentWidgetPrivate::runLoad(const LoadArguments& a) {
    try {
        control.LoadData(a.server, a.vendor, a.mode, a.scrn, a.poDate, a.serverDate);
    } catch (const platform::Abandoned&) {
        // A slot connected to loaded() or loadFailed() deleted the widget.
    }
}

VendorCommentWidget::VendorCommentWidget(QWidget* parent)
    : QWidget(parent), d(std::make_unique<VendorCommentWidgetPrivate>(this)) {
    QWidget* form = platform::qt::widgetOf(d->control.form());
    form->setParent(this);
    form->move(0, 0);
    // Nothing moves on resize: a layout may not squeeze the control below its design size.
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusProxy(platform::qt::findWidget(d->control.form(), "lstComments"));
    setAccessibleName(platform::qt::translated("Vendor Comments")); // not an unnamed filler
    resize(form->sizeHint());
}

VendorCommentWidget::~VendorCommentWidget() {
    // The control reports to nobody while it is taken down.
    d->control.setObserver(nullptr);
}

void VendorCommentWidget::LoadData(const std::string& ptServerName, const std::string& ptVendorID,
                                   const std::string& ptMode, const std::string& ptSCRN,
                                   const std::string& ptPODate, const std::string& ptServerDate) {
    if (!d->onOwnThread("LoadData"))
        return;
    d->cancelPendingLoad();
    d->lastLoad = {ptServerName, ptVendorID, ptMode, ptSCRN, ptPODate, ptServerDate};
    d->runLoad(*d->lastLoad);
}

void VendorCommentWidget::loadData(const QUrl& server, const QString& vendorId, Mode mode,
                                   const QString& scrn, const QString& poDate,
                                   const QDate& serverDate) {
    if (!d->onOwnThread("loadData"))
        return;
    // The page lies below the base: "http://host/app" means "http://host/app/".
    QUrl base = server;
    if (!base.path().endsWith(QLatin1Char('/')))
        base.setPath(base.path() + QLatin1Char('/'));
    // The server date as the control's hosts pass it: M/d/yyyy; an invalid date stays
    // empty, which the load refuses as it refuses any text that is not a date.
    const QString date =
        serverDate.isValid() ? serverDate.toString(QStringLiteral("M/d/yyyy")) : QString();
    d->startLoad({base.toString(QUrl::FullyEncoded).toStdString(), vendorId.toStdString(),
                  std::to_string(int(mode)), scrn.toStdString(), poDate.toStdString(),
                  date.toStdString()});
}

void VendorCommentWidget::reload() {
    if (d->onOwnThread("reload") && d->lastLoad)
        d->startLoad(*d->lastLoad);
}

QString VendorCommentWidget::vendorId() const {
    if (!d->onOwnThread("vendorId"))
        return {};
    return QString::fromStdString(d->control.state().mstrVendorID);
}

VendorCommentWidget::Mode VendorCommentWidget::mode() const {
    if (!d->onOwnThread("mode"))
        return ViewOnly;
    return Mode(d->control.state().mintMode);
}

int VendorCommentWidget::rowCount() const {
    if (!d->onOwnThread("rowCount"))
        return 0;
    return d->control.form().lstComments().count();
}

bool VendorCommentWidget::isStatementInFlight() const {
    if (!d->onOwnThread("isStatementInFlight"))
        return false;
    return d->control.statementInFlight();
}

bool VendorCommentWidget::isEditing() const {
    if (!d->onOwnThread("isEditing"))
        return false;
    return d->control.editing();
}

QSize VendorCommentWidget::sizeHint() const {
    return platform::qt::widgetOf(d->control.form())->sizeHint();
}

QSize VendorCommentWidget::minimumSizeHint() const {
    return sizeHint();
}

} // namespace tavik
