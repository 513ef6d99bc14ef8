// vendor-comment-check: whether a server page fits the control, told by the control's own
// code: the load request, the document reader, the code and date conversions, the statement
// texts and the form encoding.

#include "LoadCheck.h"
#include "PageClient.h"
#include "Progress.h"
#include "Report.h"
#include "StatementCheck.h"

#include <QCommandLineParser>
#include <QStringList>
#include <QUrl>

#include <cmath>
#include <exception>
#include <iostream>
#include <optional>
#include <string>

using namespace vccheck;

namespace {

constexpr int kNothingFailed = 0;
constexpr int kSomethingFailed = 1;
constexpr int kBadArguments = 2;

struct Options {
    RunInfo run;
    PageLimits limits;
    bool json = false;
    bool quiet = false;
};

int badArguments(const std::string& reason) {
    std::cerr << "vendor-comment-check: " << reason << "\n"
              << "Try 'vendor-comment-check --help'.\n";
    return kBadArguments;
}

// A time limit in seconds, as given on the command line.
std::optional<std::chrono::milliseconds> secondsOption(const QString& text) {
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds <= 0 || seconds > 86400)
        return std::nullopt;
    return std::chrono::milliseconds(std::max(1LL, std::llround(seconds * 1000)));
}

// The options, or the exit status when there is nothing to check.
std::optional<int> parse(int argc, char** argv, Options& options) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Checks whether a server page fits the vendor comment control: loads a vendor's "
        "comments as the control does and tells, one line a finding, what the user of the "
        "control will see. With --write it also inserts, updates and deletes comments of a "
        "scratch vendor as the control does, one at a time and from several clients at once.");
    parser.addPositionalArgument(
        "URL", "The server prefix the host gives LoadData, such as http://host/app/; the "
               "control appends VendorCommentLOAD.asp to it.");
    const QCommandLineOption vendor("vendor", "The vendor whose comments are loaded.", "ID");
    const QCommandLineOption scrn("scrn", "The SCRN value of the load request.", "TEXT", "");
    const QCommandLineOption poDate("podate", "The PO date value of the load request.", "TEXT", "");
    const QCommandLineOption write(
        "write", "Also check the statements, on the scratch vendor, which must hold no comments.");
    const QCommandLineOption scratch("scratch-vendor",
                                     "The vendor the statements write to (with --write).", "ID");
    const QCommandLineOption json("json", "Print the findings as one JSON document.");
    const QCommandLineOption quiet("quiet", "Print only WARN and FAIL lines and the summary.");
    const QCommandLineOption connect(
        "connect-timeout", "Time limit for a connection (default: the control's, 5).", "SECONDS");
    const QCommandLineOption maxTime(
        "max-time",
        "Time limit for a whole request (default: the control's, 30 for a load, 60 for a "
        "statement).",
        "SECONDS");
    parser.addOptions({vendor, scrn, poDate, write, scratch, json, quiet, connect, maxTime});
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();

    if (!parser.parse(arguments))
        return badArguments(parser.errorText().toStdString());
    if (parser.isSet(help) || parser.isSet("help-all")) {
        std::cout
            << parser.helpText().replace("<executable_name>", "vendor-comment-check").toStdString()
            << "\nExit status: 0 when nothing failed, 1 when something did, 2 for bad "
               "arguments.\n";
        return kNothingFailed;
    }
    if (parser.isSet(version)) {
        std::cout << "vendor-comment-check " << VC_VERSION << "\n";
        return kNothingFailed;
    }

    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1)
        return badArguments(positional.empty() ? "the URL of the server page is missing"
                                               : "one URL only");
    const QUrl url(positional.front(), QUrl::StrictMode);
    if (!url.isValid() || (url.scheme() != "http" && url.scheme() != "https") ||
        url.host().isEmpty())
        return badArguments("not an http or https URL: " +
                            withoutPassword(positional.front().toStdString()));
    if (url.path().endsWith("VendorCommentLOAD.asp", Qt::CaseInsensitive))
        return badArguments(
            "give the server prefix the host gives LoadData (" +
            withoutPassword(
                url.adjusted(QUrl::RemoveFilename | QUrl::RemoveQuery).toString().toStdString()) +
            "); the control appends VendorCommentLOAD.asp itself");
    if (!parser.isSet(vendor))
        return badArguments("--vendor is missing");
    if (parser.isSet(write) != parser.isSet(scratch))
        return badArguments(parser.isSet(write) ? "--write needs --scratch-vendor"
                                                : "--scratch-vendor goes with --write");
    if (parser.isSet(write) && parser.value(scratch).isEmpty())
        return badArguments("--scratch-vendor is empty");

    options.run.url = positional.front().toStdString();
    options.run.vendor = parser.value(vendor).toStdString();
    options.run.scrn = parser.value(scrn).toStdString();
    options.run.poDate = parser.value(poDate).toStdString();
    options.run.write = parser.isSet(write);
    options.run.scratchVendor = parser.value(scratch).toStdString();
    options.json = parser.isSet(json);
    options.quiet = parser.isSet(quiet);
    if (parser.isSet(connect)) {
        const auto limit = secondsOption(parser.value(connect));
        if (!limit)
            return badArguments("--connect-timeout takes a number of seconds");
        options.limits.load.connect = options.limits.statement.connect = *limit;
    }
    if (parser.isSet(maxTime)) {
        const auto limit = secondsOption(parser.value(maxTime));
        if (!limit)
            return badArguments("--max-time takes a number of seconds");
        options.limits.load.transfer = options.limits.statement.transfer = *limit;
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (const auto exit = parse(argc, argv, options))
        return *exit;
    const RunInfo& run = options.run;
    try {
        Report report;
        Progress progress;
        if (!run.url.ends_with('/'))
            report.warn("request", "the server prefix does not end in \"/\": the control "
                                   "appends VendorCommentLOAD.asp to it as it stands");
        checkLoad({run.url, run.vendor, run.scrn, run.poDate}, options.limits.load, report,
                  progress);
        if (run.write)
            checkStatements({run.url, run.scratchVendor, run.scrn, run.poDate}, options.limits,
                            report, progress);
        progress.clear();
        std::cout << (options.json ? report.json(run) : report.text(options.quiet));
        std::cout.flush();
        return report.failed() ? kSomethingFailed : kNothingFailed;
    } catch (const std::exception& error) {
        std::cerr << "vendor-comment-check: " << error.what() << "\n";
        return kSomethingFailed;
    }
}
