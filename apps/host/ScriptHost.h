#pragma once

#include "Dump.h"

#include "platform/MessageBox.h"

#include <QJsonArray>

#include <deque>
#include <iosfwd>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace tavik {
class VendorCommentWidget;
}

// Plays a script of user and host actions against the control's real widgets, headless,
// and prints what the control shows. One JSON array per line.
class ScriptHost {
public:
    ScriptHost(std::ostream& out, std::ostream& err);
    ~ScriptHost();

    // Returns the exit status: 0 when every line ran, 2 for a faulty line.
    int run(std::istream& script);

private:
    struct LineError : std::runtime_error {
        using std::runtime_error::runtime_error;
    };
    struct Queued {
        QJsonArray command;
        int line;
    };

    void validate(const QJsonArray& command) const;
    void execute(const QJsonArray& command);
    void playQueuedWhileWaiting();
    void playQueuedWhileCompleting();
    void play(std::deque<Queued>& queue, const char* command);

    bool playGesture(const QJsonArray& command);
    void waitForTransfers(int milliseconds);
    void screenshot(const std::string& path);

    std::ostream& out_;
    std::ostream& err_;
    std::unique_ptr<tavik::VendorCommentWidget> control_;
    tavik::platform::MessageBoxRecorder boxes_;
    std::deque<Queued> whileWaiting_;
    std::deque<Queued> whileCompleting_;
    std::string waitError_;
};
