#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

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
    std::string failure;    // why none came (refused, time limit, too large...); empty if one did
    bool tooLarge = false;  // the body went beyond kMaxDocumentBytes
    bool timedOut = false;  // a time limit ended it
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
// Setting `*cancel` ends the fetch soon, as a failure. A document handed over for this URL
// on this thread (below) is taken instead of fetching.
FetchedDocument fetchDocument(const std::string& url, std::chrono::milliseconds connectLimit,
                              std::chrono::milliseconds transferLimit,
                              const FetchProgress& progress = {},
                              const std::atomic<bool>* cancel = nullptr);

// A document fetched beforehand (on another thread, so the user-interface thread never
// waits for it), which the next fetch of `url` on this thread takes in place of a transfer,
// while this object lives.
class HandedOverDocument {
public:
    HandedOverDocument(std::string url, FetchedDocument fetched);
    ~HandedOverDocument();
    HandedOverDocument(const HandedOverDocument&) = delete;
    HandedOverDocument& operator=(const HandedOverDocument&) = delete;
};

} // namespace tavik::platform
