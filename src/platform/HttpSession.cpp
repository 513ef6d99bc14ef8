#include "HttpSession.h"

#include "CurlRequest.h"
#include "RuntimeError.h"

#include <algorithm>
#include <future>

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
    curl_multi_wakeup(multi_);
    removed_.wait(lock, [&] { return !active_.contains(easy); });
}

CURLcode HttpSession::perform(CURL* easy) {
    std::promise<CURLcode> outcome;
    start(easy, [&outcome](CURLcode result) { outcome.set_value(result); });
    return outcome.get_future().get();
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
    removed_.notify_all();
}

void HttpSession::work() {
    for (;;) {
        {
            const std::lock_guard lock(mutex_);
            if (stopping_)
                return;
            for (CURL* easy : removing_) {
                curl_multi_remove_handle(multi_, easy);
                active_.erase(easy);
            }
            if (!removing_.empty())
                removed_.notify_all();
            removing_.clear();
            for (CURL* easy : adding_)
                if (curl_multi_add_handle(multi_, easy) != CURLM_OK)
                    finish(easy, CURLE_FAILED_INIT);
            adding_.clear();
        }
        int running = 0;
        if (const CURLMcode status = curl_multi_perform(multi_, &running); status != CURLM_OK)
            throw RuntimeError(curl_multi_strerror(status));
        int queued = 0;
        while (const CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
            if (message->msg == CURLMSG_DONE) {
                const std::lock_guard lock(mutex_);
                finish(message->easy_handle, message->data.result);
            }
        }
        // Sleeps until a transfer has something to do or a request is started or cancelled.
        if (const CURLMcode status = curl_multi_poll(multi_, nullptr, 0, 10000, nullptr);
            status != CURLM_OK)
            throw RuntimeError(curl_multi_strerror(status));
    }
}

// Ends a request with its outcome; the mutex is held, so a cancel waits until it is over.
void HttpSession::finish(CURL* easy, CURLcode result) {
    const auto found = active_.find(easy);
    if (found == active_.end())
        return;
    curl_multi_remove_handle(multi_, easy);
    const auto done = std::move(found->second);
    active_.erase(found);
    removed_.notify_all();
    done(result);
}

} // namespace tavik::platform
