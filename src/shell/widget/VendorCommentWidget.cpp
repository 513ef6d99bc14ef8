#include "VendorCommentWidget_p.h"

#include "../../platform/net/DocumentFetch.h"
#include "../../platform/qt/Logging.h"
#include "../../platform/qt/QtForm.h"
#include "../../platform/qt/WidgetSupport.h"

#include <QAuthenticator>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <cstdint>

namespace tavik {

namespace {
std::uint64_t loadsStarted = 0; // on the widgets' thread only
} // namespace

struct VendorCommentWidgetPrivate::PendingLoad {
    std::uint64_t generation = ++loadsStarted;
    LoadArguments arguments;
    bool signedInAgain = false;
    std::unique_ptr<platform::BackgroundFetch> fetch;
};

VendorCommentWidgetPrivate::VendorCommentWidgetPrivate(VendorCommentWidget* widget) : q(widget) {
    control.setObserver(this);
}

// A fetch still running is abandoned with `pending`, at once.
VendorCommentWidgetPrivate::~VendorCommentWidgetPrivate() = default;

void VendorCommentWidgetPrivate::loaded(int rows) {
    if (notifyChanges(true))
        emit q->loaded(rows);
}
void VendorCommentWidgetPrivate::loadFailed(const std::string& reason) {
    if (notifyChanges(false))
        emit q->loadFailed(QString::fromStdString(reason));
}
void VendorCommentWidgetPrivate::commentAdded(const std::string& sequence) {
    if (notifyChanges(false))
        emit q->commentAdded(QString::fromStdString(sequence));
}
void VendorCommentWidgetPrivate::commentUpdated(const std::string& sequence) {
    emit q->commentUpdated(QString::fromStdString(sequence));
}
void VendorCommentWidgetPrivate::commentDeleted(const std::string& sequence) {
    if (notifyChanges(false))
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

// Nothing of the widget is touched after the signal: a slot may have deleted it.
std::optional<platform::Credentials> VendorCommentWidgetPrivate::credentialsRequired() {
    QAuthenticator authenticator;
    emit q->authenticationRequired(&authenticator);
    if (authenticator.user().isEmpty() && authenticator.password().isEmpty())
        return std::nullopt;
    return platform::Credentials{authenticator.user().toStdString(),
                                 authenticator.password().toStdString()};
}

bool VendorCommentWidgetPrivate::notifyChanges(bool reloaded) {
    const QPointer<VendorCommentWidget> alive(q);
    const VendorComment::State state = control.state();
    const QString vendor = QString::fromStdString(state.mstrVendorID);
    if (vendor != shownVendorId) {
        shownVendorId = vendor;
        emit q->vendorIdChanged(vendor);
        if (!alive)
            return false;
    }
    if (state.mintMode != shownMode) {
        shownMode = state.mintMode;
        emit q->modeChanged(VendorCommentWidget::Mode(shownMode));
        if (!alive)
            return false;
    }
    const int rows = control.form().lstComments().count();
    if (reloaded || rows != shownRowCount) {
        shownRowCount = rows;
        emit q->rowCountChanged(rows);
        if (!alive)
            return false;
    }
    return true;
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

void VendorCommentWidgetPrivate::startLoad(LoadArguments arguments, bool signedInAgain) {
    cancelPendingLoad();
    lastLoad = arguments;
    auto load = std::make_unique<PendingLoad>();
    load->arguments = std::move(arguments);
    load->signedInAgain = signedInAgain;
    // The end is posted to the widget; abandoning the fetch (pending) comes before the widget
    // goes, so the post never meets a deleted widget.
    load->fetch = std::make_unique<platform::BackgroundFetch>(
        load->arguments.url(), control.credentials(), [this, generation = load->generation] {
            QMetaObject::invokeMethod(
                q, [this, generation] { finishLoad(generation); }, Qt::QueuedConnection);
        });
    pending = std::move(load);
    q->setCursor(Qt::BusyCursor);
}

void VendorCommentWidgetPrivate::finishLoad(std::uint64_t generation) {
    if (!pending || pending->generation != generation)
        return; // superseded
    // The lists are not refilled under a statement waiting for its answer; the load follows
    // once that answer has been handled.
    if (control.statementInFlight()) {
        QTimer::singleShot(20, q, [this, generation] { finishLoad(generation); });
        return;
    }
    const std::unique_ptr<PendingLoad> load = std::move(pending);
    q->unsetCursor();
    platform::FetchedDocument fetched = load->fetch->take();
    // A page that wants a sign-in is asked once more when the host signs in anew.
    if (fetched.status == 401 && !load->signedInAgain) {
        const QPointer<VendorCommentWidget> alive(q);
        const auto credentials = credentialsRequired();
        if (!alive)
            return;
        if (credentials) {
            control.setCredentials(*credentials);
            startLoad(load->arguments, true);
            return;
        }
    }
    runLoad(load->arguments, std::move(fetched));
}

void VendorCommentWidgetPrivate::cancelPendingLoad() {
    if (!pending)
        return;
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

void VendorCommentWidgetPrivate::runLoad(const LoadArguments& arguments,
                                         platform::FetchedDocument fetched) {
    try {
        control.LoadData(arguments, std::move(fetched));
    } catch (const platform::Abandoned&) {
        // as above
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

void VendorCommentWidget::setCredentials(const QString& user, const QString& password) {
    if (d->onOwnThread("setCredentials"))
        d->control.setCredentials({user.toStdString(), password.toStdString()});
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
