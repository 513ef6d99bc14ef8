#include "http/WorkerPool.h"

namespace vcserver {

WorkerPool::WorkerPool(std::size_t threads) {
    for (std::size_t i = 0; i < threads; ++i) {
        threads_.emplace_back([this] { work(); });
    }
}

WorkerPool::~WorkerPool() {
    close();
}

bool WorkerPool::submit(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        if (closed_) {
            return false;
        }
        tasks_.push_back(std::move(task));
    }
    changed_.notify_one();
    return true;
}

void WorkerPool::close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    changed_.notify_all();
    for (auto& t : threads_) {
        if (t.joinable()) {
            t.join();
        }
    }
}

void WorkerPool::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return closed_ || !tasks_.empty(); });
        if (tasks_.empty()) {
            return; // closed, and nothing left to run
        }
        auto task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        task();
        lock.lock();
    }
}

} // namespace vcserver
