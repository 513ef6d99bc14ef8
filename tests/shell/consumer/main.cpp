// Uses the installed package the two ways a host does; exits non-zero on any failure.

#include <TavikVendorComment/ComHost.h>
#include <TavikVendorComment/Translator.h>
#include <TavikVendorComment/TypeInfo.h>
#include <TavikVendorComment/VendorCommentWidget>
#include <TavikVendorComment/tavikvendorcomment_version.h>

#include "ui_CommentsForm.h"

#include <QApplication>
#include <QAuthenticator>
#include <QDate>
#include <QEventLoop>
#include <QMetaProperty>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <filesystem>
#include <iostream>
#include <string_view>

using namespace tavik;

static_assert(TAVIKVENDORCOMMENT_VERSION >= TAVIKVENDORCOMMENT_VERSION_CHECK(2, 0, 6));

int fail(const char* what, HRESULT hr = E_FAIL) {
    std::cerr << what << ": " << resultText(hr) << std::endl;
    return 1;
}

// A page on loopback that wants alice's sign-in: 401 without it, a document with one row with
// it.
class SignInPage : public QTcpServer {
public:
    SignInPage() {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* socket = nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                request += socket->readAll();
                if (!request.contains("\r\n\r\n"))
                    return;
                const bool signedIn =
                    request.contains("Authorization: Basic " +
                                     QByteArray("alice:Alice-Secret-1").toBase64() + "\r\n");
                const QByteArray body =
                    signedIn ? "<r><LOC><a>1</a><b>Dock</b></LOC><GRID><a/><b>1</b><c/><d/><e/>"
                               "<f/><g/><h/><i>note</i></GRID></r>"
                             : "";
                const QByteArray status = signedIn ? "HTTP/1.1 200 OK\r\n"
                                                   : "HTTP/1.1 401 Unauthorized\r\n"
                                                     "WWW-Authenticate: Basic\r\n";
                socket->write(status + "Content-Length: " + QByteArray::number(body.size()) +
                              "\r\nConnection: close\r\n\r\n" + body);
                socket->disconnectFromHost();
                request.clear();
            });
        });
    }
    QUrl base() const { return QUrl("http://127.0.0.1:" + QString::number(serverPort()) + "/"); }
    QByteArray request;
};

// Loads from the page and waits for the outcome; true when the load filled the list.
bool loadFrom(VendorCommentWidget& control, const SignInPage& page) {
    QEventLoop waiting;
    bool loaded = false;
    const auto ok = QObject::connect(&control, &VendorCommentWidget::loaded, [&] {
        loaded = true;
        waiting.quit();
    });
    const auto failed =
        QObject::connect(&control, &VendorCommentWidget::loadFailed, &waiting, &QEventLoop::quit);
    QTimer::singleShot(10000, &waiting, &QEventLoop::quit);
    control.loadData(page.base(), "318", VendorCommentWidget::ReadWrite, "", "",
                     QDate(2009, 3, 23));
    waiting.exec();
    QObject::disconnect(ok);
    QObject::disconnect(failed);
    return loaded;
}

// The three properties notify, and a binding-like watcher follows them through a load.
int checkNotifyingProperties(SignInPage& page) {
    VendorCommentWidget control;
    control.setCredentials("alice", "Alice-Secret-1");
    QString vendor;
    int mode = -1, rows = -1;
    for (const char* name : {"vendorId", "mode", "rowCount"}) {
        const QMetaProperty property =
            control.metaObject()->property(control.metaObject()->indexOfProperty(name));
        if (!property.hasNotifySignal())
            return fail("a property does not notify");
    }
    QObject::connect(&control, &VendorCommentWidget::vendorIdChanged,
                     [&](const QString& v) { vendor = v; });
    QObject::connect(&control, &VendorCommentWidget::modeChanged,
                     [&](VendorCommentWidget::Mode m) { mode = m; });
    QObject::connect(&control, &VendorCommentWidget::rowCountChanged, [&](int r) { rows = r; });
    if (!loadFrom(control, page) || vendor != "318" || mode != VendorCommentWidget::ReadWrite ||
        rows != 1)
        return fail("the properties did not notify their values");
    return 0;
}

// Signed in ahead through setCredentials, and when asked through authenticationRequired.
int checkSignIn(SignInPage& page) {
    VendorCommentWidget ahead;
    ahead.setCredentials("alice", "Alice-Secret-1");
    if (!loadFrom(ahead, page))
        return fail("setCredentials did not sign in");
    VendorCommentWidget asked;
    int asks = 0;
    QObject::connect(&asked, &VendorCommentWidget::authenticationRequired,
                     [&](QAuthenticator* authenticator) {
                         ++asks;
                         authenticator->setUser("alice");
                         authenticator->setPassword("Alice-Secret-1");
                     });
    if (!loadFrom(asked, page) || asks != 1 || asked.rowCount() != 1)
        return fail("authenticationRequired did not sign in");
    return 0;
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (std::string_view(PACKAGE_VERSION) != TAVIKVENDORCOMMENT_VERSION_STRING)
        return fail("the CMake package and the version header disagree");

    // Placed directly, and loaded both ways from a port where nothing listens: each load
    // tells the host that it failed.
    VendorCommentWidget placed;
    int failures = 0;
    QObject::connect(&placed, &VendorCommentWidget::loadFailed, [&] { ++failures; });
    placed.LoadData("http://127.0.0.1:1/", "318", "1", "7", "03/23/2009", "3/23/2009");
    // loadData returns at once; its failure arrives later.
    QEventLoop waiting;
    QObject::connect(&placed, &VendorCommentWidget::loadFailed, &waiting, &QEventLoop::quit);
    QTimer::singleShot(10000, &waiting, &QEventLoop::quit);
    placed.loadData(QUrl("http://127.0.0.1:1"), "318", VendorCommentWidget::ReadWrite, "7",
                    "03/23/2009", QDate(2009, 3, 23));
    waiting.exec();
    if (failures != 2 || placed.vendorId() != "318" || placed.rowCount() != 0)
        return fail("the placed control did not report its failed loads");
    QWidget formHost;
    Ui::CommentsForm form;
    form.setupUi(&formHost);
    tavik::VendorCommentWidget* inForm = form.vendorComment;
    if (inForm->rowCount() != 0 || inForm->isEditing())
        return fail("the control in a Designer form is not the control");
    SignInPage page;
    if (const int failed = checkNotifyingProperties(page) + checkSignIn(page))
        return failed;
    if (!std::filesystem::exists(INSTALLED_IDL))
        return fail("the installed IDL is missing");
    if (!std::filesystem::exists(INSTALLED_TRANSLATIONS "/tavikvendorcomment_de.qm"))
        return fail("the installed German catalog is missing");
    if (!installTranslator(QLocale(QLocale::German)))
        return fail("the library carries no German catalog");
    // Every function the installed headers declare links from the installed package.
    if (typeLibrary().libid != LIBID_TavikVendorComment ||
        idlText(typeLibrary()).find("LoadData") == std::string::npos)
        return fail("the type information");

    if (const HRESULT hr = RegisterServer(INSTALLED_LIBRARY); FAILED(hr))
        return fail("RegisterServer", hr);
    ComPtr<IDispatch> created;
    if (const HRESULT hr =
            CoCreateInstanceByProgId(ProgID_VendorComment, IID_IDispatch, created.put());
        FAILED(hr))
        return fail("CoCreateInstanceByProgId", hr);
    Guid clsid{};
    if (const HRESULT hr = CLSIDFromProgID(ProgID_VendorComment, &clsid);
        FAILED(hr) || clsid != CLSID_VendorComment)
        return fail("CLSIDFromProgID", hr);
    ComPtr<IClassFactory> factory;
    if (const HRESULT hr = CoGetClassObject(clsid, IID_IClassFactory, factory.put()); FAILED(hr))
        return fail("CoGetClassObject", hr);
    ComPtr<IDispatch> second;
    if (const HRESULT hr = CoCreateInstance(clsid, IID_IDispatch, second.put()); FAILED(hr))
        return fail("CoCreateInstance", hr);
    std::cout << "last load error: \"" << lastLoadError() << "\"" << std::endl;
    second.reset();
    factory.reset();
    const char* name = "LoadData";
    DispId id = DISPID_UNKNOWN;
    if (const HRESULT hr = created->GetIDsOfNames(&name, 1, &id);
        FAILED(hr) || id != DISPID_LoadData)
        return fail("GetIDsOfNames", hr);
    created.reset();
    if (const HRESULT hr = UnregisterServer(INSTALLED_LIBRARY); hr != S_OK)
        return fail("UnregisterServer", hr);
    std::cout << "consumer: ok" << std::endl;
    return 0;
}
