#pragma once

#include <curl/curl.h>

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// The HTTP requests of the controls on one thread, driven by one worker thread through one
// libcurl multi handle. Its connections stay open between requests (keep-alive), so the
// reload after an accepted statement goes over the connection that carried the statement,
// and no thread is started per request. The connections close when the last transfer
// component of the thread goes.
namespace tavik::platform {

class HttpSession {
public:
    // The session of the calling thread, made when there is none; the transfer component
    // holds it for its life.
    static std::shared_ptr<HttpSession> forThisThread();
    // The session of the calling thread if a transfer component holds one, else null.
    static std::shared_ptr<HttpSession> ofThisThread();

    HttpSession();
    ~HttpSession();
    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;

    // Starts a request set up on `easy` and returns at once. Its callbacks run on the worker;
    // so does `done`, once, with the outcome, unless the request is cancelled first.
    void start(CURL* easy, std::function<void(CURLcode)> done);
    // Abandons a request; once it returns, nothing of the request runs any more.
    void cancel(CURL* easy);
    // Runs a request to its end on the calling thread, which drives the session meanwhile
    // (other requests in flight go on too): the data does not pass through the worker.
    CURLcode perform(CURL* easy);

private:
    void run() noexcept;
    void work();
    void carryOut(); // the starts and cancels asked for; the mutex is held
    void step(std::unique_lock<std::mutex>& lock, int waitMs, const bool& until);
    void finish(CURL* easy, CURLcode result);

    CURLM* multi_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<CURL*> adding_, removing_;                  // asked for, not carried out
    std::map<CURL*, std::function<void(CURLcode)>> active_; // started, not yet finished
    bool stopping_ = false;
    bool borrowed_ = false; // a caller of perform drives the multi handle
    bool driving_ = false;  // the worker drives it
    std::thread worker_;
};

} // namespace tavik::platform
