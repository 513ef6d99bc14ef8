#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace vcserver {

// Runs short tasks at given times on a thread of its own, so a request held back waits
// without holding a thread that serves others.
class DelayedTasks {
public:
    using Clock = std::chrono::steady_clock;

    DelayedTasks();
    ~DelayedTasks();
    DelayedTasks(const DelayedTasks&) = delete;
    DelayedTasks& operator=(const DelayedTasks&) = delete;

    // Queues a task for the time; false once closed.
    bool at(Clock::time_point when, std::function<void()> task);

    // Takes no more tasks, runs those waiting at once and returns when all have run.
    void close();

private:
    void loop();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::multimap<Clock::time_point, std::function<void()>> tasks_;
    bool closed_ = false;
    std::thread thread_;
};

} // namespace vcserver
