#pragma once

#include <functional>
#include <memory>

// The event pump of the user-interface thread, which the waits for a transfer run.
namespace tavik::platform {

// Dispatches every pending event of the user-interface thread, then returns.
void DoEvents();
// Runs at the start of every DoEvents: the scripted host and tests act there, inside the
// handling of a completed transfer.
void setPumpHook(std::function<void()> hook);

// Dispatches events as they arrive until WakeWaiters is called or a short interval passes;
// it sleeps on the event queue, so a caller looping on a condition does not spin. Returns
// false when the application is quitting: the caller stops waiting and gives up what it
// waited for, so that the application's event loop can return.
bool WaitForEvents();
// Ends the WaitForEvents calls in progress: a transfer calls it when its state changes.
void WakeWaiters();
// Runs at the start of every WaitForEvents: the scripted host acts there during a wait.
void setWaitHook(std::function<void()> hook);

// Thrown out of a wait, a message box or a report to the host when the host destroyed the
// control meanwhile. It unwinds the control's handler up to the platform, which ends the
// event there: nothing of the destroyed control is touched again.
struct Abandoned {};

// Lets code that waits notice that its object was destroyed during the wait: take a Watch
// before, check it after, touching only the Watch.
class Liveness {
public:
    class Watch {
    public:
        explicit Watch(const std::shared_ptr<const char>& token) : token_(token) {}
        void check() const {
            if (token_.expired())
                throw Abandoned{};
        }

    private:
        std::weak_ptr<const char> token_;
    };
    Watch watch() const { return Watch(token_); }

private:
    std::shared_ptr<const char> token_ = std::make_shared<const char>('\0');
};

} // namespace tavik::platform
