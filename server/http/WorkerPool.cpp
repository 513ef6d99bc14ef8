#include "http/WorkerPool.h"

#include <algorithm>

namespace vcserver {

WorkerPool::WorkerPool(std::size_t threads, std::size_t eager, std::chrono::microseconds grace)
    : eager_(std::max<std::size_t>(eager, 1)), grace_(grace), started_(threads) {
    for (std::size_t i = 0; i < threads; ++i) {
        threads_.emplace_back([this, i] { work(i); });
    }
}

WorkerPool::~WorkerPool() {
    close();
}

std::size_t WorkerPool::busy(Clock::time_point now) const {
    return static_cast<std::size_t>(
        std::count_if(started_.begin(), started_.end(),
                      [&](const auto& started) { return started && now - *started < grace_; }));
}

bool WorkerPool::mayTake(Clock::time_point now) const {
    return !tasks_.empty() && (closed_ || busy(now) < eager_);
}

// Each wake goes to a thread that is waiting and not woken already, so none is lost.
std::condition_variable* WorkerPool::wakeIdle() {
    if (idle_ > woken_) {
        ++woken_;
        return &changed_;
    }
    return nullptr;
}

bool WorkerPool::submit(std::function<void()> task) {
    std::condition_variable* wake = nullptr;
    {
        std::lock_guard lock(mutex_);
        if (closed_) {
            return false;
        }
        tasks_.push_back(std::move(task));
        if (busy(Clock::now()) < eager_) {
            wake = wakeIdle();
            if (!wake && watcher_) {
                wake = &watched_;
            }
        } else if (watcher_ && !watchingTime_) {
            watchingTime_ = true;
            wake = &watched_;
        }
    }
    if (wake) {
        wake->notify_one();
    }
    return true;
}

void WorkerPool::close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    changed_.notify_all();
    watched_.notify_all();
    for (auto& t : threads_) {
        if (t.joinable()) {
            t.join();
        }
    }
}

// While any thread is idle, one of them watches the queue: in time with the grace while
// tasks wait, asleep until a task comes otherwise.
void WorkerPool::work(std::size_t self) {
    std::unique_lock lock(mutex_);
    for (;;) {
        const auto now = Clock::now();
        if (mayTake(now)) {
            auto task = std::move(tasks_.front());
            tasks_.pop_front();
            started_[self] = now;
            lock.unlock();
            task();
            lock.lock();
            started_[self].reset();
            continue;
        }
        if (closed_ && tasks_.empty()) {
            return;
        }
        if (!watcher_) {
            watcher_ = true;
            watchingTime_ = !tasks_.empty();
            if (watchingTime_) {
                watched_.wait_for(lock, grace_);
            } else {
                watched_.wait(lock);
            }
            watcher_ = false;
            // This thread goes to work: another idle one watches instead.
            if (mayTake(Clock::now())) {
                if (auto* wake = wakeIdle()) {
                    wake->notify_one();
                }
            }
            continue;
        }
        // Tasks this thread may not take wait: the watcher times them.
        if (!tasks_.empty() && !watchingTime_) {
            watchingTime_ = true;
            watched_.notify_one();
        }
        ++idle_;
        changed_.wait(lock);
        --idle_;
        woken_ = woken_ > 0 ? woken_ - 1 : 0;
    }
}

} // namespace vcserver
