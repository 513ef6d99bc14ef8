// vendor-comment-host: a desktop window hosting the vendor comment control (the demo), or,
// with --script, the headless scripted host that plays user actions and prints dumps.

#include "Picture.h"
#include "ScriptHost.h"

#include <TavikVendorComment/ComHost.h>
#include <TavikVendorComment/VendorCommentWidget>

#include <QApplication>
#include <QCommandLineParser>
#include <QDate>
#include <QTimer>

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

    if (!loadArguments.empty()) {
        const char* name = "LoadData";
        tavik::DispId id = tavik::DISPID_UNKNOWN;
        hr = control->GetIDsOfNames(&name, 1, &id);
        if (tavik::SUCCEEDED(hr))
            hr = control->Invoke(id, loadArguments.data(), loadArguments.size());
        if (tavik::FAILED(hr)) {
            std::cerr << "LoadData: " << tavik::resultText(hr) << std::endl;
            return 1;
        }
    }
    if (!screenshotPath.isEmpty())
        return savePicture(widget, screenshotPath);
    return app.exec();
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
    parser.addOptions({script, server, vendor, mode, scrn, poDate, serverDate, screenshot});
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

    VendorCommentWidget control;
    control.setWindowTitle("Vendor Comments");
    control.show();
    if (parser.isSet(server) || parser.isSet(vendor)) {
        control.LoadData(parser.value(server).toStdString(), parser.value(vendor).toStdString(),
                         parser.value(mode).toStdString(), parser.value(scrn).toStdString(),
                         parser.value(poDate).toStdString(),
                         parser.value(serverDate).toStdString());
    }
    if (parser.isSet(screenshot))
        return savePicture(&control, parser.value(screenshot));
    return app.exec();
}
