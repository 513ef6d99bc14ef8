#include "HttpSession.h"

#include "../RuntimeError.h"
#include "CurlRequest.h"

#include <algorithm>

namespace tavik::platform {

namespace {
thread_local std::weak_ptr<HttpSession> threadSession;
} // namespace

std::shared_ptr<HttpSession> HttpSession::forThisThread() {
    auto session = threadSession.lock();
    if (!session) {
        session = std::make_shared<HttpSession>();
        threadSession = session;
    }
    return session;
}

std::shared_ptr<HttpSession> HttpSession::ofThisThread() {
    return threadSession.lock();
}

HttpSession::HttpSession() : multi_(curlReady() ? curl_multi_init() : nullptr) {
    if (!multi_)
        throw RuntimeError("Unable to create the transfer");
    worker_ = std::thread([this] { run(); });
}

HttpSession::~HttpSession() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    curl_multi_wakeup(multi_);
    worker_.join();
    for (const auto& [easy, done] : active_)
        curl_multi_remove_handle(multi_, easy);
    curl_multi_cleanup(multi_); // closes the connections kept open
}

void HttpSession::start(CURL* easy, std::function<void(CURLcode)> done) {
    {
        const std::lock_guard lock(mutex_);
        if (stopping_) {
            done(CURLE_FAILED_INIT);
            return;
        }
        active_.emplace(easy, std::move(done));
        adding_.push_back(easy);
    }
    changed_.notify_all();
    curl_multi_wakeup(multi_);
}

void HttpSession::cancel(CURL* easy) {
    std::unique_lock lock(mutex_);
    if (const auto queued = std::find(adding_.begin(), adding_.end(), easy);
        queued != adding_.end()) {
        adding_.erase(queued);
        active_.erase(easy);
        return;
    }
    if (!active_.contains(easy))
        return; // finished already
    removing_.push_back(easy);
    changed_.notify_all();
    curl_multi_wakeup(multi_);
    changed_.wait(lock, [&] { return !active_.contains(easy); });
}

CURLcode HttpSession::perform(CURL* easy) {
    std::unique_lock lock(mutex_);
    if (stopping_)
        return CURLE_FAILED_INIT;
    // The worker steps aside: at once when it has nothing in flight, else at its next turn.
    borrowed_ = true;
    if (driving_) {
        curl_multi_wakeup(multi_);
        changed_.wait(lock, [&] { return !driving_; });
    }
    bool finished = false;
    CURLcode outcome = CURLE_FAILED_INIT;
    active_.emplace(easy, [&](CURLcode result) {
        finished = true;
        outcome = result;
    });
    adding_.push_back(easy);
    try {
        while (!finished)
            step(lock, 1000, finished);
    } catch (...) {
        active_.erase(easy);
        curl_multi_remove_handle(multi_, easy);
        borrowed_ = false;
        changed_.notify_all();
        throw;
    }
    borrowed_ = false;
    changed_.notify_all();
    return outcome;
}

// Nothing may leave the worker: an exception there would end the host process. Should the
// worker fail, every request it holds ends with an error, and so does every later one.
void HttpSession::run() noexcept {
    try {
        work();
    } catch (...) {
    }
    const std::lock_guard lock(mutex_);
    stopping_ = true;
    driving_ = false;
    adding_.clear();
    removing_.clear();
    for (auto& [easy, done] : active_) {
        curl_multi_remove_handle(multi_, easy);
        try {
            done(CURLE_FAILED_INIT);
        } catch (...) {
        }
    }
    active_.clear();
    changed_.notify_all();
}

// The worker drives the requests in flight and sleeps while there are none.
void HttpSession::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] {
            return stopping_ || (!borrowed_ && (!active_.empty() || !removing_.empty()));
        });
        if (stopping_)
            return;
        driving_ = true;
        step(lock, 10000, stopping_);
        driving_ = false;
        changed_.notify_all();
    }
}

void HttpSession::carryOut() {
    for (CURL* easy : removing_) {
        curl_multi_remove_handle(multi_, easy);
        active_.erase(easy);
    }
    if (!removing_.empty())
        changed_.notify_all();
    removing_.clear();
    for (CURL* easy : adding_)
        if (curl_multi_add_handle(multi_, easy) != CURLM_OK)
            finish(easy, CURLE_FAILED_INIT);
    adding_.clear();
}

// One turn of the multi handle: what was asked for, the transfers' progress and ends, then a
// sleep until a socket or a timer of curl's wants attention, a request is started or
// cancelled, or `waitMs` pass; no sleep once nothing is in flight, or `until` is true. The
// worker releases the mutex while curl works; a caller of perform keeps it, holding the
// multi handle meanwhile.
void HttpSession::step(std::unique_lock<std::mutex>& lock, int waitMs, const bool& until) {
    const bool borrowing = !driving_;
    carryOut();
    if (!borrowing)
        lock.unlock();
    int running = 0;
    CURLMcode status = curl_multi_perform(multi_, &running);
    if (!borrowing)
        lock.lock();
    int queued = 0;
    while (const CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
        if (message->msg == CURLMSG_DONE)
            finish(message->easy_handle, message->data.result);
    }
    if (status == CURLM_OK && !until && !(active_.empty() && adding_.empty())) {
        if (!borrowing)
            lock.unlock();
        status = curl_multi_poll(multi_, nullptr, 0, waitMs, nullptr);
        if (!borrowing)
            lock.lock();
    }
    if (status != CURLM_OK)
        throw RuntimeError(curl_multi_strerror(status));
}

// Ends a request with its outcome; the mutex is held, so a cancel waits until it is over.
void HttpSession::finish(CURL* easy, CURLcode result) {
    const auto found = active_.find(easy);
    if (found == active_.end())
        return;
    curl_multi_remove_handle(multi_, easy);
    const auto done = std::move(found->second);
    active_.erase(found);
    changed_.notify_all();
    done(result);
}

} // namespace tavik::platform
