#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "../Credentials.h"

// The blocking GET behind the XML document's load: the request, its limits and what came
// back. Whatever else fetches a load document (a checker of server pages) fetches it the way
// the control does, and sees what the control would not show: status, time, redirects.
namespace tavik::platform {

// The largest document the control reads: room for several hundred thousand comments of
// ordinary length (100,000 come to about 36 MB), while a runaway answer stops before the
// body and its parsed tree use much more than half a gigabyte.
inline constexpr std::size_t kMaxDocumentBytes = 128 * 1024 * 1024;

struct FetchedDocument {
    bool completed = false; // an answer came, whatever its status
    // Why none came (refused, time limit, too large...); empty if one did. From the load's
    // fetch also why the answer that came cannot be loaded.
    std::string failure;
    bool tooLarge = false; // the body went beyond kMaxDocumentBytes
    bool timedOut = false; // a time limit ended it
    long status = 0;
    std::string contentType;
    std::string body;
    long redirects = 0;
    std::string finalUrl; // where the answer came from, after redirects
    std::chrono::microseconds duration{};
};

// Bytes received so far; called while the body arrives.
using FetchProgress = std::function<void(std::uint64_t received)>;

// Fetches a URL as the control's loader does: web addresses only, up to five redirects, the
// given time limits, no body beyond kMaxDocumentBytes. On a thread whose transfer component
// keeps connections open, the fetch goes over them.
// Setting `*cancel` ends the fetch soon, as a failure.
FetchedDocument fetchDocument(const std::string& url, std::chrono::milliseconds connectLimit,
                              std::chrono::milliseconds transferLimit,
                              const FetchProgress& progress = {},
                              const std::atomic<bool>* cancel = nullptr,
                              const Credentials& credentials = {});

// The load's fetch: fetchDocument with the load's time limits, judged as the load judges an
// answer. Whatever cannot be loaded has its reason in `failure`: no answer, a status other
// than 2xx ("HTTP status 500"), a sign-in the page wants ("sign-in needed (HTTP 401)").
FetchedDocument fetchForLoad(const std::string& url, const Credentials& credentials = {});

// The load's fetch on the HTTP session of the calling thread, so that thread goes on with its
// events meanwhile. `finished` runs once when the fetch has ended, on whichever thread drives
// the session; it may only hand the news on (post an event, wake a wait). Destroying the
// fetch abandons it at once: nothing of it runs afterwards, and no thread is waited for.
class BackgroundFetch {
public:
    BackgroundFetch(const std::string& url, const Credentials& credentials,
                    std::function<void()> finished);
    ~BackgroundFetch();
    BackgroundFetch(const BackgroundFetch&) = delete;
    BackgroundFetch& operator=(const BackgroundFetch&) = delete;

    bool done() const;
    // What came, once done; judged as fetchForLoad judges it.
    FetchedDocument take();

    struct Request;

private:
    std::unique_ptr<Request> request_;
};

} // namespace tavik::platform
