#include "http/DelayedTasks.h"

namespace vcserver {

DelayedTasks::DelayedTasks() : thread_([this] { loop(); }) {}

DelayedTasks::~DelayedTasks() {
    close();
}

bool DelayedTasks::at(Clock::time_point when, std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        if (closed_) {
            return false;
        }
        tasks_.emplace(when, std::move(task));
    }
    changed_.notify_one();
    return true;
}

void DelayedTasks::close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    changed_.notify_one();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void DelayedTasks::loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (tasks_.empty()) {
            if (closed_) {
                return;
            }
            changed_.wait(lock);
            continue;
        }
        const auto first = tasks_.begin();
        if (!closed_ && Clock::now() < first->first) {
            changed_.wait_until(lock, first->first);
            continue;
        }
        auto task = std::move(first->second);
        tasks_.erase(first);
        lock.unlock();
        task();
        lock.lock();
    }
}

} // namespace vcserver
