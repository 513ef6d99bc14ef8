// vendor-comment-host: a desktop window hosting the vendor comment control (the demo), or,
// with --script, the headless scripted host that plays user actions and prints dumps.

#include "ScriptHost.h"

#include "shell/VendorCommentWidget.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDate>
#include <QTimer>

#include <fstream>
#include <iostream>

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

    QApplication app(argc, argv);
    QApplication::setApplicationName("vendor-comment-host");

    QCommandLineParser parser;
    parser.setApplicationDescription("Hosts the vendor comment control.");
    parser.addHelpOption();
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
    parser.process(app);

    if (parser.isSet(script)) {
        const QString file = parser.value(script);
        ScriptHost host(std::cout, std::cerr);
        if (file == "-")
            return host.run(std::cin);
        std::ifstream in(file.toStdString());
        if (!in) {
            std::cerr << "cannot read " << file.toStdString() << std::endl;
            return 2;
        }
        return host.run(in);
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
    if (parser.isSet(screenshot)) {
        QApplication::processEvents();
        const QString path = parser.value(screenshot);
        if (!control.grab().save(path, "PNG")) {
            std::cerr << "cannot write " << path.toStdString() << std::endl;
            return 1;
        }
        return 0;
    }
    return app.exec();
}
