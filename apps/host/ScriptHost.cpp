#include "ScriptHost.h"

#include "Picture.h"

#include "platform/EventPump.h"
#include "platform/MessageBox.h"
#include "shell/gestures/Gestures.h"
#include "shell/widget/VendorCommentWidget_p.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QtWidgets/qtestsupport_widgets.h>

#include <istream>
#include <map>
#include <ostream>
#include <set>

using namespace tavik;

namespace {

const std::set<std::string> widgetNames{"cmdAdd",     "cmdEdit",     "cmdDelete",  "txtComment",
                                        "cboType",    "cboLocation", "chkDate(0)", "chkDate(1)",
                                        "DateBox(0)", "DateBox(1)",  "lstComments"};

// Argument kinds of each command: s string, i integer, w widget name, c command;
// a trailing ? marks an optional last argument.
const std::map<std::string, std::string> signatures{
    {"LoadData", "ssssss"},
    {"click", "w"},
    {"select", "i"},
    {"dblclick", "i"},
    {"key", "s"},
    {"columnClick", "i"},
    {"type", "s"},
    {"paste", "s"},
    {"pick", "wi"},
    {"setDate", "ws"},
    {"answer", "s"},
    {"whileWaiting", "c"},
    {"whileCompleting", "c"},
    {"wait", "i?"},
    {"resize", "ii"},
    {"screenshot", "s"},
    {"dump", ""},
};

const std::map<std::string, Qt::Key> namedKeys{
    {"Up", Qt::Key_Up},         {"Down", Qt::Key_Down},
    {"PageUp", Qt::Key_PageUp}, {"PageDown", Qt::Key_PageDown},
    {"Home", Qt::Key_Home},     {"End", Qt::Key_End},
};

std::string str(const QJsonValue& value) {
    return value.toString().toStdString();
}

} // namespace

ScriptHost::ScriptHost(std::ostream& out, std::ostream& err)
    : out_(out), err_(err), control_(std::make_unique<VendorCommentWidget>()) {
    platform::setWaitHook([this] { playQueuedWhileWaiting(); });
    platform::setPumpHook([this] { playQueuedWhileCompleting(); });
    control_->setWindowTitle("Vendor Comments");
    control_->show();
    control_->activateWindow();
    // The wait that QtWidgets itself provides; the host links no Qt Test.
    (void)QTest::qWaitForWindowExposed(control_.get());
}

ScriptHost::~ScriptHost() {
    platform::setPumpHook({});
    platform::setWaitHook({});
}

int ScriptHost::run(std::istream& script) {
    std::string text;
    int lineNumber = 0;
    while (std::getline(script, text)) {
        ++lineNumber;
        const auto first = text.find_first_not_of(" \t\r");
        if (first == std::string::npos || text[first] == '#')
            continue;
        try {
            QJsonParseError parseError;
            const QJsonDocument document =
                QJsonDocument::fromJson(QByteArray::fromStdString(text), &parseError);
            if (parseError.error != QJsonParseError::NoError || !document.isArray())
                throw LineError("not a JSON array");
            const QJsonArray command = document.array();
            validate(command);
            if (str(command[0]) == "whileWaiting")
                whileWaiting_.push_back({command[1].toArray(), lineNumber});
            else if (str(command[0]) == "whileCompleting")
                whileCompleting_.push_back({command[1].toArray(), lineNumber});
            else
                execute(command);
            out_.flush();
            if (!waitError_.empty())
                throw LineError(waitError_);
        } catch (const LineError& error) {
            err_ << "line " << lineNumber << ": " << error.what() << std::endl;
            return 2;
        }
    }
    for (const Queued& queued : whileWaiting_)
        err_ << "line " << queued.line << ": whileWaiting found no transfer to wait for"
             << std::endl;
    for (const Queued& queued : whileCompleting_)
        err_ << "line " << queued.line
             << ": whileCompleting found no completed transfer being handled" << std::endl;
    return 0;
}

void ScriptHost::validate(const QJsonArray& command) const {
    if (command.isEmpty() || !command[0].isString())
        throw LineError("a command is an array whose first element is the command name");
    const std::string name = str(command[0]);
    const auto signature = signatures.find(name);
    if (signature == signatures.end())
        throw LineError("unknown command \"" + name + "\"");

    std::string kinds = signature->second;
    const bool optionalLast = !kinds.empty() && kinds.back() == '?';
    if (optionalLast)
        kinds.pop_back();
    const auto given = static_cast<std::size_t>(command.size() - 1);
    if (given != kinds.size() && !(optionalLast && given + 1 == kinds.size()))
        throw LineError(name + " takes " + std::to_string(kinds.size()) + " argument(s)");

    for (std::size_t i = 0; i < given; ++i) {
        const QJsonValue arg = command[int(i + 1)];
        switch (kinds[i]) {
        case 's':
            if (!arg.isString())
                throw LineError(name + ": argument " + std::to_string(i + 1) + " must be a string");
            break;
        case 'i':
            if (!arg.isDouble() || arg.toDouble() != double(arg.toInt()))
                throw LineError(name + ": argument " + std::to_string(i + 1) +
                                " must be an integer");
            break;
        case 'w':
            if (!arg.isString() || !widgetNames.count(str(arg)))
                throw LineError(
                    name + ": unknown widget name " +
                    QJsonDocument(QJsonArray{arg}).toJson(QJsonDocument::Compact).toStdString());
            break;
        case 'c':
            if (!arg.isArray())
                throw LineError(name + ": the argument must be a command array");
            validate(arg.toArray());
            break;
        }
    }
    if (name == "answer" && str(command[1]) != "Yes" && str(command[1]) != "No")
        throw LineError("answer takes Yes or No");
    if (name == "key" && !namedKeys.count(str(command[1])) &&
        !(str(command[1]).size() == 1 &&
          std::isalpha(static_cast<unsigned char>(str(command[1])[0]))))
        throw LineError("unknown key \"" + str(command[1]) + "\"");
    if (name == "pick" && str(command[1]) != "cboType" && str(command[1]) != "cboLocation")
        throw LineError("pick takes cboType or cboLocation");
    if (name == "setDate" && str(command[1]) != "DateBox(0)" && str(command[1]) != "DateBox(1)")
        throw LineError("setDate takes DateBox(0) or DateBox(1)");
    if (name == "setDate" &&
        !QDate::fromString(QString::fromStdString(str(command[2])), Qt::ISODate).isValid())
        throw LineError("setDate takes a date yyyy-mm-dd");
}

void ScriptHost::execute(const QJsonArray& command) {
    try {
        if (playGesture(command))
            return;
    } catch (const std::out_of_range& error) {
        throw LineError(error.what());
    }
    const std::string name = str(command[0]);
    if (name == "LoadData") {
        control_->LoadData(str(command[1]), str(command[2]), str(command[3]), str(command[4]),
                           str(command[5]), str(command[6]));
    } else if (name == "answer") {
        boxes_.answers.push_back(str(command[1]) == "Yes" ? platform::vbYes : platform::vbNo);
    } else if (name == "wait") {
        waitForTransfers(command.size() > 1 ? command[1].toInt() : 10000);
    } else if (name == "resize") {
        control_->resize(command[1].toInt(), command[2].toInt());
        QApplication::processEvents();
    } else if (name == "screenshot") {
        screenshot(str(command[1]));
    } else if (name == "dump") {
        out_ << dumpControl(controlOf(*control_), boxes_.shown) << '\n';
        boxes_.shown.clear();
    }
}

// The user's actions; false for a command that is none.
bool ScriptHost::playGesture(const QJsonArray& command) {
    platform::Form& form = controlOf(*control_).form();
    const std::string name = str(command[0]);
    if (name == "click") {
        gestures::click(form, str(command[1]));
    } else if (name == "select" || name == "dblclick") {
        gestures::selectRow(form, command[1].toInt(), name == "dblclick");
    } else if (name == "key") {
        const std::string key = str(command[1]);
        const auto named = namedKeys.find(key);
        if (named != namedKeys.end())
            gestures::pressKey(form, named->second);
        else
            gestures::pressKey(form, QChar::fromLatin1(key[0]));
    } else if (name == "columnClick") {
        gestures::clickColumn(form, command[1].toInt());
    } else if (name == "type") {
        gestures::type(form, QString::fromStdString(str(command[1])));
    } else if (name == "paste") {
        gestures::paste(form, QString::fromStdString(str(command[1])));
    } else if (name == "pick") {
        gestures::pick(form, str(command[1]), command[2].toInt());
    } else if (name == "setDate") {
        gestures::setDate(form, str(command[1]),
                          QDate::fromString(QString::fromStdString(str(command[2])), Qt::ISODate));
    } else {
        return false;
    }
    return true;
}

// Commands queued with whileWaiting play inside the first wait for a transfer.
void ScriptHost::playQueuedWhileWaiting() {
    if (!whileWaiting_.empty() && controlOf(*control_).form().Inet1().StillExecuting())
        play(whileWaiting_, "whileWaiting");
}

// Commands queued with whileCompleting play at the first event pump inside the handling of
// a completed statement transfer: the transfer is over, its end not yet handled.
void ScriptHost::playQueuedWhileCompleting() {
    VendorComment& control = controlOf(*control_);
    if (!whileCompleting_.empty() && control.statementInFlight() &&
        !control.form().Inet1().StillExecuting())
        play(whileCompleting_, "whileCompleting");
}

void ScriptHost::play(std::deque<Queued>& queue, const char* command) {
    std::deque<Queued> queued;
    queued.swap(queue);
    for (const Queued& q : queued) {
        try {
            execute(q.command);
        } catch (const std::exception& error) {
            if (waitError_.empty())
                waitError_ = std::string(command) + " from line " + std::to_string(q.line) + ": " +
                             error.what();
        }
    }
    out_.flush();
}

void ScriptHost::waitForTransfers(int milliseconds) {
    platform::Inet& inet = controlOf(*control_).form().Inet1();
    QElapsedTimer timer;
    timer.start();
    platform::DoEvents();
    while (inet.StillExecuting() && timer.elapsed() < milliseconds) {
        if (!platform::WaitForEvents())
            return; // the application quits
        platform::DoEvents();
    }
}

void ScriptHost::screenshot(const std::string& path) {
    const QString failure = writePicture(control_.get(), QString::fromStdString(path));
    if (!failure.isEmpty())
        throw LineError("cannot write " + path + ": " + failure.toStdString());
}
