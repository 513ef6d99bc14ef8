#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace vcserver {

// Threads that run the page's database work, so the threads reading and writing sockets
// never wait on the database and a slow statement holds back no other connection.
class WorkerPool {
public:
    explicit WorkerPool(std::size_t threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Queues a task; false once the pool is closed.
    bool submit(std::function<void()> task);

    // Takes no more tasks, runs those already queued and waits for all to finish.
    void close();

private:
    void work();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> tasks_;
    bool closed_ = false;
    std::vector<std::thread> threads_;
};

} // namespace vcserver
