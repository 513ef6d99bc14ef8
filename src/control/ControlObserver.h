#pragma once

#include "../platform/Credentials.h"

#include <optional>
#include <string>

namespace tavik {

// What the control tells its host about what the user saw happen. The control calls these
// after the behaviour has run; they report it and change nothing. An observer may destroy
// the control from any of them: the control then stops where it is (platform::Abandoned).
class ControlObserver {
public:
    // LoadData filled the lists; `rows` comments are shown.
    virtual void loaded(int rows) = 0;
    // LoadData ended early, quietly as always: the list shows nothing of the vendor.
    virtual void loadFailed(const std::string& reason) = 0;
    // The server accepted an insert, an update or a delete of the comment with this
    // sequence; an added comment's is empty unless the reload showed which row is new.
    virtual void commentAdded(const std::string& sequence) = 0;
    virtual void commentUpdated(const std::string& sequence) = 0;
    virtual void commentDeleted(const std::string& sequence) = 0;
    // The server answered a statement with this text: the user saw it in the refusal box.
    virtual void statementRefused(const std::string& answer) = 0;
    // A statement's transfer failed for this reason (the transfer's error or the status):
    // the user saw the error box.
    virtual void transferFailed(const std::string& reason) = 0;
    // The editor entered Adding or Editing (true) or went back to Browse (false).
    virtual void editingChanged(bool editing) = 0;
    // A statement went to the server (true); its answer has been handled (false).
    virtual void statementInFlightChanged(bool inFlight) = 0;
    // The server page wants a sign-in (HTTP 401): the credentials to try once more, or none.
    virtual std::optional<platform::Credentials> credentialsRequired() = 0;

protected:
    ~ControlObserver() = default;
};

} // namespace tavik
