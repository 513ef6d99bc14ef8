// vendor-comment-host: a desktop window hosting the vendor comment control (the demo), or,
// with --script, the headless scripted host that plays user actions and prints dumps.

#include "AfterFirstPaint.h"
#include "Picture.h"
#include "ScriptHost.h"

#include "platform/qt/QtForm.h"
#include "shell/widget/VendorCommentWidget_p.h"

#include <TavikVendorComment/ComHost.h>
#include <TavikVendorComment/Translator.h>
#include <TavikVendorComment/VendorCommentWidget>

#include <QAbstractItemView>
#include <QApplication>
#include <QCommandLineParser>
#include <QDate>
#include <QHelpEvent>
#include <QPalette>
#include <QStatusBar>
#include <QVBoxLayout>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

using namespace tavik;

namespace {

// --screenshot: the picture, or the reason it could not be written.
int savePicture(QWidget* widget, const QString& path) {
    const QString failure = writePicture(widget, path);
    if (failure.isEmpty())
        return 0;
    std::cerr << "cannot write " << path.toStdString() << ": " << failure.toStdString()
              << std::endl;
    return 1;
}

// --register and --unregister: load the library and call its entry point, as a
// registration tool does.
int runRegistration(const QString& library, bool unregister) {
    const std::string path = library.toStdString();
    const tavik::HRESULT hr =
        unregister ? tavik::UnregisterServer(path) : tavik::RegisterServer(path);
    std::cout << (unregister ? "DllUnregisterServer: " : "DllRegisterServer: ")
              << tavik::resultText(hr) << std::endl;
    if (tavik::FAILED(hr) && !tavik::lastLoadError().empty())
        std::cerr << tavik::lastLoadError() << std::endl;
    return tavik::SUCCEEDED(hr) ? 0 : 1;
}

// --progid: the control created through the registry, as a host that knows only its
// program id does, then loaded and shown like the window mode. loadArguments is empty when
// nothing is to be loaded.
int runByProgId(QApplication& app, const QString& progId, std::vector<std::string> loadArguments,
                const QString& screenshotPath) {
    tavik::ComPtr<tavik::IDispatch> control;
    tavik::HRESULT hr =
        tavik::CoCreateInstanceByProgId(progId.toStdString(), tavik::IID_IDispatch, control.put());
    tavik::ComPtr<tavik::IQtWidget> face;
    QWidget* widget = nullptr;
    if (tavik::SUCCEEDED(hr))
        hr = control.queryInterface(tavik::IID_IQtWidget, face);
    if (tavik::SUCCEEDED(hr))
        hr = face->GetWidget(&widget);
    if (tavik::FAILED(hr)) {
        std::cerr << "cannot create " << progId.toStdString() << ": " << tavik::resultText(hr)
                  << std::endl;
        if (!tavik::lastLoadError().empty())
            std::cerr << tavik::lastLoadError() << std::endl;
        return 1;
    }
    widget->setWindowTitle("Vendor Comments");
    widget->show();

    afterFirstPaint(widget, [&] {
        if (!loadArguments.empty()) {
            const char* name = "LoadData";
            tavik::DispId id = tavik::DISPID_UNKNOWN;
            tavik::HRESULT loaded = control->GetIDsOfNames(&name, 1, &id);
            if (tavik::SUCCEEDED(loaded))
                loaded = control->Invoke(id, loadArguments.data(), loadArguments.size());
            if (tavik::FAILED(loaded)) {
                std::cerr << "LoadData: " << tavik::resultText(loaded) << std::endl;
                QCoreApplication::exit(1);
                return;
            }
        }
        if (!screenshotPath.isEmpty())
            QCoreApplication::exit(savePicture(widget, screenshotPath));
    });
    return app.exec();
}

// A dark palette, as a dark desktop gives one.
QPalette darkPalette() {
    QPalette dark;
    const QColor window(53, 53, 53), base(35, 35, 35), text(230, 230, 230);
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        dark.setColor(group, QPalette::Window, window);
        dark.setColor(group, QPalette::WindowText, text);
        dark.setColor(group, QPalette::Base, base);
        dark.setColor(group, QPalette::AlternateBase, window);
        dark.setColor(group, QPalette::Text, text);
        dark.setColor(group, QPalette::Button, window);
        dark.setColor(group, QPalette::ButtonText, text);
        dark.setColor(group, QPalette::ToolTipBase, QColor(70, 70, 70));
        dark.setColor(group, QPalette::ToolTipText, text);
        dark.setColor(group, QPalette::PlaceholderText, QColor(140, 140, 140));
        dark.setColor(group, QPalette::Highlight, QColor(42, 130, 218));
        dark.setColor(group, QPalette::HighlightedText, Qt::white);
        dark.setColor(group, QPalette::Light, QColor(80, 80, 80));
        dark.setColor(group, QPalette::Midlight, QColor(66, 66, 66));
        dark.setColor(group, QPalette::Mid, QColor(44, 44, 44));
        dark.setColor(group, QPalette::Dark, QColor(30, 30, 30));
        dark.setColor(group, QPalette::Shadow, QColor(20, 20, 20));
    }
    dark.setColor(QPalette::Disabled, QPalette::Window, window);
    dark.setColor(QPalette::Disabled, QPalette::Base, QColor(45, 45, 45));
    dark.setColor(QPalette::Disabled, QPalette::Button, window);
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        dark.setColor(QPalette::Disabled, role, QColor(127, 127, 127));
    return dark;
}

// --hover-row: the tooltip a pointer resting on the comment of row `row` shows.
void hoverRow(VendorCommentWidget& control, int row) {
    auto* list = qobject_cast<QAbstractItemView*>(
        platform::qt::findWidget(controlOf(control).form(), "lstComments"));
    if (row < 0 || row >= list->model()->rowCount())
        return;
    const QPoint where = list->visualRect(list->model()->index(row, 0)).center();
    QHelpEvent hover(QEvent::ToolTip, where, list->viewport()->mapToGlobal(where));
    QApplication::sendEvent(list->viewport(), &hover);
}

// The demo's status line: what the clerk waits for, and how the last load or statement ended.
void showProgress(VendorCommentWidget& control, QStatusBar& status) {
    QObject::connect(&control, &VendorCommentWidget::loaded, &status, [&status](int rows) {
        status.showMessage(rows == 1 ? QString("1 comment") : QString("%1 comments").arg(rows));
    });
    QObject::connect(
        &control, &VendorCommentWidget::loadFailed, &status,
        [&status](const QString& reason) { status.showMessage("The load failed: " + reason); });
    QObject::connect(&control, &VendorCommentWidget::statementInFlightChanged, &status,
                     [&status](bool inFlight) {
                         if (inFlight)
                             status.showMessage("Waiting for the server's answer...");
                     });
    QObject::connect(&control, &VendorCommentWidget::commentAdded, &status,
                     [&status] { status.showMessage("The comment was added."); });
    QObject::connect(&control, &VendorCommentWidget::commentUpdated, &status,
                     [&status] { status.showMessage("The comment was saved."); });
    QObject::connect(&control, &VendorCommentWidget::commentDeleted, &status,
                     [&status] { status.showMessage("The comment was deleted."); });
    QObject::connect(
        &control, &VendorCommentWidget::statementRefused, &status,
        [&status](const QString& answer) { status.showMessage("The server refused: " + answer); });
    QObject::connect(
        &control, &VendorCommentWidget::transferFailed, &status,
        [&status](const QString& reason) { status.showMessage("Not saved: " + reason); });
}

} // namespace

namespace {

void quietMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::cerr << message.toStdString() << std::endl;
}

} // namespace

int main(int argc, char** argv) {
    // Script mode is headless unless the caller chose a platform.
    bool scriptMode = false;
    for (int i = 1; i < argc; ++i)
        scriptMode = scriptMode || std::string_view(argv[i]) == "--script";
    if (scriptMode && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // In script mode standard error carries only the script's faults: Qt's notes and
    // warnings (a missing runtime folder, say) stay out of it.
    if (scriptMode)
        qInstallMessageHandler(quietMessages);
    // So are registration and the answers to --help and --version: they show nothing, and
    // must work where there is no display.
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg(argv[i]);
        const bool printsOnly = arg == "--help" || arg == "-h" || arg == "--help-all" ||
                                arg == "--version" || arg == "-v";
        if ((printsOnly || arg.starts_with("--register") || arg.starts_with("--unregister")) &&
            qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName("vendor-comment-host");
    QApplication::setApplicationVersion(VC_VERSION);
    // The control speaks the user's language (LANG, LC_ALL, LC_MESSAGES) where it has a
    // catalog for it; what the script mode prints stays English.
    installTranslator(QLocale::system());

    QCommandLineParser parser;
    parser.setApplicationDescription("Hosts the vendor comment control.");
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption script("script", "Play a script (FILE, or - for standard input).",
                                    "FILE");
    const QCommandLineOption server("server", "Server prefix, ending in /.", "URL");
    const QCommandLineOption vendor("vendor", "Vendor key.", "ID");
    const QCommandLineOption mode("mode", "Permission mode: 0 view only, 1 or 2 full.", "N", "1");
    const QCommandLineOption scrn("scrn", "SCRN context value.", "TEXT", "");
    const QCommandLineOption poDate("podate", "PO date context value.", "TEXT", "");
    const QCommandLineOption serverDate("server-date", "The server's current date.", "DATE",
                                        QDate::currentDate().toString("M/d/yyyy"));
    const QCommandLineOption screenshot("screenshot",
                                        "Load, write a PNG picture of the control, exit.", "FILE");
    const QCommandLineOption dark("dark", "Show the control with a dark palette.");
    const QCommandLineOption hover(
        "hover-row", "With --screenshot: show the tooltip of the comment in row N (from 0).", "N");
    parser.addOptions(
        {script, server, vendor, mode, scrn, poDate, serverDate, screenshot, dark, hover});
    const QCommandLineOption registerLibrary(
        "register", "Register the control library LIBRARY (calls its DllRegisterServer).",
        "LIBRARY");
    const QCommandLineOption unregisterLibrary(
        "unregister", "Unregister the control library LIBRARY (calls its DllUnregisterServer).",
        "LIBRARY");
    const QCommandLineOption progId(
        "progid",
        "Create the control through the registry from its program id ID "
        "(TavikVendorComment.VendorComment), then host it as the window mode does.",
        "ID");
    parser.addOptions({registerLibrary, unregisterLibrary, progId});
    parser.process(app);

    if (parser.isSet(script)) {
        const QString file = parser.value(script);
        ScriptHost host(std::cout, std::cerr);
        if (file == "-")
            return host.run(std::cin);
        std::ifstream in(file.toStdString());
        if (!in) {
            std::cerr << "cannot read " << file.toStdString() << ": " << std::strerror(errno)
                      << std::endl;
            return 2;
        }
        return host.run(in);
    }

    if (parser.isSet(registerLibrary))
        return runRegistration(parser.value(registerLibrary), false);
    if (parser.isSet(unregisterLibrary))
        return runRegistration(parser.value(unregisterLibrary), true);
    if (parser.isSet(progId)) {
        std::vector<std::string> loadArguments;
        if (parser.isSet(server) || parser.isSet(vendor))
            loadArguments = {
                parser.value(server).toStdString(), parser.value(vendor).toStdString(),
                parser.value(mode).toStdString(),   parser.value(scrn).toStdString(),
                parser.value(poDate).toStdString(), parser.value(serverDate).toStdString()};
        return runByProgId(app, parser.value(progId), std::move(loadArguments),
                           parser.isSet(screenshot) ? parser.value(screenshot) : QString());
    }

    if (parser.isSet(dark))
        QApplication::setPalette(darkPalette());
    QWidget window;
    window.setWindowTitle("Vendor Comments");
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    auto* control = new VendorCommentWidget;
    layout->addWidget(control);
    auto* status = new QStatusBar;
    status->setSizeGripEnabled(false);
    layout->addWidget(status);
    showProgress(*control, *status);

    const auto finish = [&] {
        if (parser.isSet(hover))
            hoverRow(*control, parser.value(hover).toInt());
        if (parser.isSet(screenshot))
            QCoreApplication::exit(savePicture(control, parser.value(screenshot)));
    };
    QObject::connect(control, &VendorCommentWidget::loaded, &window, finish);
    QObject::connect(control, &VendorCommentWidget::loadFailed, &window, finish);
    window.show();
    // The load starts once the window has been drawn; the window stays usable while the
    // document is fetched.
    afterFirstPaint(&window, [&] {
        if (!parser.isSet(server) && !parser.isSet(vendor))
            return finish();
        status->showMessage("Loading...");
        VendorCommentWidgetPrivate::get(control)->startLoad(
            {parser.value(server).toStdString(), parser.value(vendor).toStdString(),
             parser.value(mode).toStdString(), parser.value(scrn).toStdString(),
             parser.value(poDate).toStdString(), parser.value(serverDate).toStdString()});
    });
    return app.exec();
}