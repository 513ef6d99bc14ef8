#include "DocumentFetch.h"

#include "../TestHooks.h"
#include "CurlRequest.h"
#include "HttpSession.h"

#include <arpa/inet.h>

#include <memory>
#include <utility>

namespace tavik::platform {

namespace {

std::atomic<long> connectLimitMs{xmlConnectLimit.count()};
std::atomic<long> transferLimitMs{xmlTransferLimit.count()};

std::string tooLargeText() {
    return "the document is over the " + std::to_string(kMaxDocumentBytes / (1024 * 1024)) +
           " MiB limit";
}

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

// The load's verdict on what came: only a 2xx answer is a document to read.
void judgeForLoad(FetchedDocument& fetched, bool hadCredentials) {
    if (!fetched.completed || (fetched.status >= 200 && fetched.status <= 299))
        return;
    if (fetched.status == 401)
        fetched.failure =
            hadCredentials ? "sign-in refused (HTTP 401)" : "sign-in needed (HTTP 401)";
    else
        fetched.failure = "HTTP status " + std::to_string(fetched.status);
    fetched.body = std::string();
}

} // namespace

void setXmlTimeLimitsForTesting(std::chrono::milliseconds connect,
                                std::chrono::milliseconds transfer) {
    connectLimitMs = long(connect.count());
    transferLimitMs = long(transfer.count());
}

// One GET set up on its own handle, whether run to its end on the calling thread or started
// on the thread's HTTP session.
struct BackgroundFetch::Request {
    std::shared_ptr<HttpSession> session; // a background fetch's, held while it runs
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl{nullptr, &curl_easy_cleanup};
    FetchProgress progress;
    Receiver receiver{nullptr, &progress, {}};
    char details[CURL_ERROR_SIZE] = "";
    bool hadCredentials = false;
    FetchedDocument fetched;

    // Sets the request up; false (with the reason in `fetched`) when it cannot be.
    bool setUp(const std::string& url, std::chrono::milliseconds connectLimit,
               std::chrono::milliseconds transferLimit, const std::atomic<bool>* cancel,
               const Credentials& credentials) {
        curl.reset(curlReady() ? curl_easy_init() : nullptr);
        if (!curl) {
            fetched.failure = "the HTTP library could not be set up";
            return false;
        }
        CURL* h = curl.get();
        receiver.handle = h;
        hadCredentials = !credentials.empty();
        setUpRequest(h, url, connectLimit, transferLimit, curl_off_t(kMaxDocumentBytes),
                     credentials);
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
        curl_easy_setopt(h, CURLOPT_ERRORBUFFER, details);
        return true;
    }

    // What the ended request came to.
    void collect(CURLcode result) {
        CURL* h = curl.get();
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
            fetched.failure = fetched.tooLarge ? tooLargeText()
                              : *details       ? details
                                               : curl_easy_strerror(result);
            return;
        }
        fetched.completed = true;
        fetched.body = std::move(receiver.body);
    }

    std::atomic<bool> ended{false};
};

FetchedDocument fetchDocument(const std::string& url, std::chrono::milliseconds connectLimit,
                              std::chrono::milliseconds transferLimit,
                              const FetchProgress& progress, const std::atomic<bool>* cancel,
                              const Credentials& credentials) {
    BackgroundFetch::Request request;
    request.progress = progress;
    if (!request.setUp(url, connectLimit, transferLimit, cancel, credentials))
        return std::move(request.fetched);
    // Where a transfer component keeps connections open, the fetch goes over them.
    const auto session = HttpSession::ofThisThread();
    request.collect(session ? session->perform(request.curl.get())
                            : curl_easy_perform(request.curl.get()));
    return std::move(request.fetched);
}

FetchedDocument fetchForLoad(const std::string& url, const Credentials& credentials) {
    FetchedDocument fetched =
        fetchDocument(url, std::chrono::milliseconds(connectLimitMs.load()),
                      std::chrono::milliseconds(transferLimitMs.load()), {}, nullptr, credentials);
    judgeForLoad(fetched, !credentials.empty());
    return fetched;
}

BackgroundFetch::BackgroundFetch(const std::string& url, const Credentials& credentials,
                                 std::function<void()> finished)
    : request_(std::make_unique<Request>()) {
    Request& request = *request_;
    if (!request.setUp(url, std::chrono::milliseconds(connectLimitMs.load()),
                       std::chrono::milliseconds(transferLimitMs.load()), nullptr, credentials)) {
        request.ended = true;
        if (finished)
            finished();
        return;
    }
    // The session of the thread's transfer component, so the fetch shares its connections;
    // once started, the request's callbacks run where the session is driven.
    request.session = HttpSession::forThisThread();
    request.session->start(request.curl.get(),
                           [&request, finished = std::move(finished)](CURLcode result) {
                               request.collect(result);
                               request.ended = true;
                               if (finished)
                                   finished();
                           });
}

BackgroundFetch::~BackgroundFetch() {
    if (request_->session)
        request_->session->cancel(request_->curl.get());
}

bool BackgroundFetch::done() const {
    return request_->ended;
}

FetchedDocument BackgroundFetch::take() {
    judgeForLoad(request_->fetched, request_->hadCredentials);
    return std::move(request_->fetched);
}

} // namespace tavik::platform
