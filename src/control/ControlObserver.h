#pragma once

#include <string>

namespace tavik {

// What the control tells its host about what the user saw happen. The control calls these
// after the behaviour has run; they report it and change nothing.
class ControlObserver {
public:
    // LoadData filled the lists; `rows` comments are shown.
    virtual void loaded(int rows) = 0;
    // LoadData ended early, quietly as always: the list shows nothing of the vendor.
    virtual void loadFailed(const std::string& reason) = 0;
    // The server accepted an insert, an update or a delete.
    virtual void commentAdded() = 0;
    virtual void commentUpdated() = 0;
    virtual void commentDeleted() = 0;
    // The server answered a statement with this text: the user saw it in the refusal box.
    virtual void statementRefused(const std::string& answer) = 0;
    // A statement's transfer failed: the user saw the error box.
    virtual void transferFailed() = 0;

protected:
    ~ControlObserver() = default;
};

} // namespace tavik
