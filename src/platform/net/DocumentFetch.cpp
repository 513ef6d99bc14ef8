#include "DocumentFetch.h"

#include "CurlRequest.h"
#include "HttpSession.h"

#include <arpa/inet.h>

#include <memory>
#include <optional>
#include <utility>

namespace tavik::platform {

namespace {

// On loopback, compressing a large document costs more time than sending it as it is.
bool onLoopback(const std::string& url) {
    const std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> u(curl_url(), &curl_url_cleanup);
    char* host = nullptr;
    if (!u || curl_url_set(u.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK ||
        curl_url_get(u.get(), CURLUPART_HOST, &host, 0) != CURLUE_OK) {
        return false;
    }
    const std::string name = host;
    curl_free(host);
    in_addr v4{};
    return name == "localhost" || name == "[::1]" ||
           (inet_pton(AF_INET, name.c_str(), &v4) == 1 && (ntohl(v4.s_addr) >> 24) == 127);
}

// Where a fetch writes its body.
struct Receiver {
    CURL* handle;
    const FetchProgress* progress;
    std::string body;
    bool sized = false;
    bool tooLarge = false;
};

// Keeps the body up to the limit; beyond it, the fetch stops with a write error. The
// announced length is reserved at the first piece, so a large body is written once instead
// of being copied at every doubling.
size_t appendBody(char* data, size_t size, size_t count, void* context) {
    auto& receiver = *static_cast<Receiver*>(context);
    const std::size_t length = size * count;
    if (receiver.body.size() + length > kMaxDocumentBytes) {
        receiver.tooLarge = true;
        return 0;
    }
    if (!receiver.sized) {
        receiver.sized = true;
        curl_off_t announced = -1;
        curl_easy_getinfo(receiver.handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
        if (announced > 0 && announced <= curl_off_t(kMaxDocumentBytes))
            receiver.body.reserve(std::size_t(announced));
    }
    receiver.body.append(data, length);
    if (*receiver.progress)
        (*receiver.progress)(receiver.body.size());
    return length;
}

// Ends the transfer once its canceller is set; curl asks at least once a second.
int checkCancel(void* cancel, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<const std::atomic<bool>*>(cancel)->load() ? 1 : 0;
}

struct HandOver {
    std::string url;
    FetchedDocument fetched;
};
thread_local std::optional<HandOver> handedOver;

} // namespace

HandedOverDocument::HandedOverDocument(std::string url, FetchedDocument fetched) {
    handedOver = HandOver{std::move(url), std::move(fetched)};
}

HandedOverDocument::~HandedOverDocument() {
    handedOver.reset();
}

FetchedDocument fetchDocument(const std::string& url, std::chrono::milliseconds connectLimit,
                              std::chrono::milliseconds transferLimit,
                              const FetchProgress& progress, const std::atomic<bool>* cancel) {
    if (handedOver && handedOver->url == url) {
        FetchedDocument taken = std::move(handedOver->fetched);
        handedOver.reset();
        return taken;
    }
    FetchedDocument fetched;
    const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(
        curlReady() ? curl_easy_init() : nullptr, &curl_easy_cleanup);
    if (!curl) {
        fetched.failure = "the HTTP library could not be set up";
        return fetched;
    }
    CURL* h = curl.get();
    Receiver receiver{h, &progress, {}};
    setUpRequest(h, url, connectLimit, transferLimit, curl_off_t(kMaxDocumentBytes));
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 5L);
    if (!onLoopback(url)) {
        curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "gzip"); // libcurl unpacks it
    }
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &appendBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &receiver);
    if (cancel) {
        curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &checkCancel);
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(cancel));
        curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    }
    char details[CURL_ERROR_SIZE] = "";
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, details);
    // Where a transfer component keeps connections open, the fetch goes over them.
    const auto session = HttpSession::ofThisThread();
    const CURLcode result = session ? session->perform(h) : curl_easy_perform(h);

    curl_off_t microseconds = 0;
    curl_easy_getinfo(h, CURLINFO_TOTAL_TIME_T, &microseconds);
    fetched.duration = std::chrono::microseconds(microseconds);
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &fetched.status);
    curl_easy_getinfo(h, CURLINFO_REDIRECT_COUNT, &fetched.redirects);
    if (char* effective = nullptr;
        curl_easy_getinfo(h, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective)
        fetched.finalUrl = effective;
    if (char* type = nullptr;
        curl_easy_getinfo(h, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type)
        fetched.contentType = type;
    if (result != CURLE_OK) {
        fetched.tooLarge = receiver.tooLarge || result == CURLE_FILESIZE_EXCEEDED;
        fetched.timedOut = result == CURLE_OPERATION_TIMEDOUT;
        fetched.failure = fetched.tooLarge ? "the document is larger than 128 MiB"
                          : *details       ? details
                                           : curl_easy_strerror(result);
        return fetched;
    }
    fetched.completed = true;
    fetched.body = std::move(receiver.body);
    return fetched;
}

} // namespace tavik::platform
