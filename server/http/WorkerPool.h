#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace vcserver {

// Threads that run the page's database work, so the threads reading and writing sockets
// never wait on the database and a slow statement holds back no other connection.
//
// A task wakes a sleeping thread only while fewer than `eager` threads run tasks they took
// less than `grace` ago; beyond that, the running ones take it as they finish one, without a
// thread switch for each (what a store answering in microseconds from local files wants on
// a few cores). A task running longer is waiting on the database and no longer counts, and
// one idle thread watches the queue every grace meanwhile, so a slow store holds the other
// tasks back for at most that long.
class WorkerPool {
public:
    explicit WorkerPool(std::size_t threads, std::size_t eager = kEveryThread,
                        std::chrono::microseconds grace = std::chrono::milliseconds(2));
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    static constexpr std::size_t kEveryThread = static_cast<std::size_t>(-1);

    // Queues a task; false once the pool is closed.
    bool submit(std::function<void()> task);

    // Takes no more tasks, runs those already queued and waits for all to finish.
    void close();

private:
    using Clock = std::chrono::steady_clock;

    void work(std::size_t self);
    std::size_t busy(Clock::time_point now) const; // threads counting against eager
    bool mayTake(Clock::time_point now) const;
    std::condition_variable* wakeIdle();

    const std::size_t eager_;
    const std::chrono::microseconds grace_;
    std::mutex mutex_;
    std::condition_variable changed_; // a task for a sleeping thread, or the pool closed
    std::condition_variable watched_; // the watching thread: tasks wait
    std::deque<std::function<void()>> tasks_;
    std::vector<std::optional<Clock::time_point>> started_; // each thread's task, when running
    std::size_t idle_ = 0;                                  // threads waiting for changed_
    std::size_t woken_ = 0;     // ... of them woken, not yet running again
    bool watcher_ = false;      // an idle thread watches the queue
    bool watchingTime_ = false; // ... and wakes by itself every grace
    bool closed_ = false;
    std::vector<std::thread> threads_;
};

} // namespace vcserver
