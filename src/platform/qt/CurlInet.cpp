#include "CurlInet.h"

#include "Logging.h"

#include "../../common/CodePage.h"
#include "../../common/Text.h"
#include "../EventPump.h"
#include "../RuntimeError.h"
#include "../TestHooks.h"
#include "../net/CurlRequest.h"
#include "../net/HttpSession.h"

#include <QObject>
#include <QtGlobal>
#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <string_view>
#include <system_error>

namespace tavik::platform {

namespace {
std::atomic<long> connectLimitMs{inetConnectLimit.count()};
std::atomic<long> transferLimitMs{inetTransferLimit.count()};
} // namespace

void setInetTimeLimitsForTesting(std::chrono::milliseconds connect,
                                 std::chrono::milliseconds transfer) {
    connectLimitMs = long(connect.count());
    transferLimitMs = long(transfer.count());
}

} // namespace tavik::platform

namespace tavik::platform::qt {

namespace {

// Only web addresses can be requested; anything else is refused before a transfer starts.
void checkUrl(const std::string& url) {
    const std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parsed(curl_url(), &curl_url_cleanup);
    if (!parsed || url.empty() || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0))
        throw RuntimeError("URL is malformed");
    char* scheme = nullptr;
    if (curl_url_get(parsed.get(), CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK)
        throw RuntimeError("URL is malformed");
    const std::string name = scheme;
    curl_free(scheme);
    if (name != "http" && name != "https")
        throw RuntimeError("Protocol not supported: " + name);
}

// What a transfer reports to the user-interface thread: a state and, with the final
// state, the outcome of the transfer.
struct Report {
    explicit Report(int state) : state(state) {}
    int state;
    long code = 0;
    std::string info;
    std::string body;
};

// One HTTP request: its curl handle, set up on the user-interface thread, then driven to its
// end by the thread's HTTP session: its callbacks run on the session's worker, or on the
// user-interface thread while a load waits there. The handle is released on the
// user-interface thread once the session has let go of it.
struct Transfer {
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;

    // Touched only where the session is driven, while the request runs.
    std::function<void(Report)> report;
    std::string body;
    std::string statusText;
    curl_off_t uploadSize = 0;
    bool connected = false;
    bool tooLarge = false;
    bool sentReported = false;
    bool responseReported = false;

    Transfer() {
        easy = curlReady() ? curl_easy_init() : nullptr;
        if (!easy)
            throw RuntimeError("Unable to create the transfer");
    }
    ~Transfer() {
        curl_easy_cleanup(easy);
        curl_slist_free_all(headers);
    }
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    void reportRequestSent() {
        if (!sentReported) {
            sentReported = true;
            report(Report(icRequestSent));
        }
    }
};

// Keeps the answer up to its limit; beyond it, the transfer stops with a write error.
size_t receiveBody(char* data, size_t size, size_t count, void* context) {
    auto& transfer = *static_cast<Transfer*>(context);
    const std::size_t length = size * count;
    if (transfer.body.size() + length > kMaxAnswerBytes) {
        transfer.tooLarge = true;
        return 0;
    }
    transfer.body.append(data, length);
    return length;
}

// The first header line of the response says the request is through; the status line's
// reason phrase is kept for ResponseInfo.
size_t receiveHeader(char* data, size_t size, size_t count, void* context) {
    auto& transfer = *static_cast<Transfer*>(context);
    const std::string_view line(data, size * count);
    if (!transfer.responseReported) {
        transfer.reportRequestSent();
        transfer.responseReported = true;
        transfer.report(Report(icResponseReceived));
    }
    if (line.starts_with("HTTP/")) {
        const std::size_t code = line.find(' ');
        const std::size_t reason = line.find(' ', code + 1);
        transfer.statusText.clear();
        if (code != std::string_view::npos && reason != std::string_view::npos)
            transfer.statusText = line.substr(reason + 1);
        while (!transfer.statusText.empty() &&
               (transfer.statusText.back() == '\r' || transfer.statusText.back() == '\n'))
            transfer.statusText.pop_back();
    }
    return size * count;
}

int connectionReady(void* transfer, char*, char*, int, int) {
    static_cast<Transfer*>(transfer)->connected = true;
    return CURL_PREREQFUNC_OK;
}

// Once connected, the request is sent when the whole body is out.
int progress(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded) {
    auto& transfer = *static_cast<Transfer*>(context);
    if (transfer.connected && uploaded >= transfer.uploadSize)
        transfer.reportRequestSent();
    return 0;
}

// Header lines as the caller wrote them, one per line; empty lines are skipped.
curl_slist* headerList(std::string_view lines) {
    curl_slist* list = nullptr;
    while (!lines.empty()) {
        const std::size_t end = std::min(lines.find('\n'), lines.size());
        std::string line(lines.substr(0, end));
        lines.remove_prefix(std::min(end + 1, lines.size()));
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            list = curl_slist_append(list, line.c_str());
    }
    // An empty Expect stops curl from waiting for "100 Continue" before sending a body.
    return curl_slist_append(list, "Expect:");
}

class CurlInet final : public Inet {
public:
    explicit CurlInet(std::function<void(int)> stateChanged)
        : stateChanged_(std::move(stateChanged)), receiver_(std::make_unique<QObject>()),
          session_(HttpSession::forThisThread()) {}

    ~CurlInet() override { stop(); }

    void Cancel() override { stop(); }

    void Execute(const std::string& url, const std::string& operation, const std::string& inputData,
                 const std::string& inputHdrs) override {
        if (stillExecuting_)
            throw RuntimeError("Still executing last request");
        const bool isPost = common::equalsIgnoreCase(operation, "Post");
        if (!isPost && !operation.empty() && !common::equalsIgnoreCase(operation, "Get"))
            throw RuntimeError("Unsupported operation: " + operation);
        checkUrl(url);
        stop();

        auto transfer = std::make_unique<Transfer>();
        CURL* h = transfer->easy;
        setUpRequest(h, url, std::chrono::milliseconds(connectLimitMs.load()),
                     std::chrono::milliseconds(transferLimitMs.load()), curl_off_t(kMaxAnswerBytes),
                     credentials_);
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &receiveBody);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, transfer.get());
        curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &receiveHeader);
        curl_easy_setopt(h, CURLOPT_HEADERDATA, transfer.get());
        curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, &connectionReady);
        curl_easy_setopt(h, CURLOPT_PREREQDATA, transfer.get());
        curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &progress);
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, transfer.get());
        curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
        transfer->headers = headerList(inputHdrs);
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, transfer->headers);
        if (isPost) {
            transfer->uploadSize = curl_off_t(inputData.size());
            curl_easy_setopt(h, CURLOPT_POST, 1L);
            curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, transfer->uploadSize);
            curl_easy_setopt(h, CURLOPT_COPYPOSTFIELDS, inputData.c_str());
        }
        const std::uint64_t generation = ++generation_;
        transfer->report = [this, generation](Report report) {
            post(generation, std::move(report));
        };
        response_.clear();
        readPos_ = 0;
        responseCode_ = 0;
        responseInfo_.clear();
        transfer_ = std::move(transfer);
        stillExecuting_ = true;
        session_->start(h, [t = transfer_.get()](CURLcode result) noexcept { ended(*t, result); });
    }

    bool StillExecuting() const override { return stillExecuting_; }

    std::string GetChunk(int size, int) override {
        if (size <= 0 || readPos_ >= response_.size())
            return {};
        const std::size_t end = std::min(response_.size(), readPos_ + std::size_t(size));
        // Cut between characters, unless the size is too small for the next one.
        std::size_t cut = end;
        while (cut > readPos_ && cut < response_.size() &&
               (static_cast<unsigned char>(response_[cut]) & 0xC0) == 0x80)
            --cut;
        if (cut == readPos_)
            cut = end;
        std::string chunk = response_.substr(readPos_, cut - readPos_);
        readPos_ = cut;
        return chunk;
    }

    void SetCredentials(const Credentials& credentials) override { credentials_ = credentials; }

    long ResponseCode() const override { return responseCode_; }
    std::string ResponseInfo() const override { return responseInfo_; }

private:
    // Abandons the transfer in flight, if any, and everything it has queued.
    void stop() {
        ++generation_;
        if (transfer_)
            session_->cancel(transfer_->easy);
        transfer_.reset();
        stillExecuting_ = false;
    }

    // Reports the end of a transfer, where the session is driven. Nothing may leave it: an
    // exception on the worker would end the host process.
    static void ended(Transfer& t, CURLcode result) noexcept {
        try {
            t.report(outcome(t, result));
        } catch (...) {
            try {
                Report failed(icError);
                failed.info = "Unexpected error";
                t.report(std::move(failed));
            } catch (...) {
                // Out of memory even for the report: nothing more can be done from here.
            }
        }
    }

    static Report outcome(Transfer& t, CURLcode result) {
        Report end(icError);
        if (result != CURLE_OK) {
            // The system's reason for a failed connection says more than curl's
            // ("Connection refused" rather than "Couldn't connect to server").
            long systemError = 0;
            if (result != CURLE_OPERATION_TIMEDOUT)
                curl_easy_getinfo(t.easy, CURLINFO_OS_ERRNO, &systemError);
            end.code = result;
            if (t.tooLarge || result == CURLE_FILESIZE_EXCEEDED)
                end.info = "The answer is larger than 1 MiB";
            else
                end.info = systemError != 0 ? std::generic_category().message(int(systemError))
                                            : curl_easy_strerror(result);
        } else {
            end.state = icResponseCompleted;
            curl_easy_getinfo(t.easy, CURLINFO_RESPONSE_CODE, &end.code);
            end.info = std::move(t.statusText);
            // A body that is not UTF-8 was written in the server's ANSI code page.
            end.body = common::isValidUtf8(t.body) ? std::move(t.body) : common::fromAnsi(t.body);
        }
        return end;
    }

    // Queues a report for the user-interface thread; called where the session is driven.
    void post(std::uint64_t generation, Report report) {
        QMetaObject::invokeMethod(
            receiver_.get(),
            [this, generation, report = std::move(report)]() mutable {
                deliver(generation, std::move(report));
            },
            Qt::QueuedConnection);
    }

    // Raises a reported state on the user-interface thread, unless its transfer has been
    // abandoned since.
    void deliver(std::uint64_t generation, Report report) {
        if (generation != generation_)
            return;
        if (report.state == icError || report.state == icResponseCompleted) {
            transfer_.reset(); // the session let go of it before reporting the end
            response_ = std::move(report.body);
            readPos_ = 0;
            responseCode_ = report.code;
            responseInfo_ = std::move(report.info);
            stillExecuting_ = false;
        }
        // The handler may destroy this component: nothing of it is touched afterwards.
        const auto stateChanged = stateChanged_;
        try {
            if (stateChanged)
                stateChanged(report.state);
        } catch (const Abandoned&) {
            // the handler's control was destroyed: nothing is left to report to
        } catch (const std::exception& e) {
            qCWarning(lcStatement, "Transfer state handler failed: %s", e.what());
        } catch (...) {
            qCWarning(lcStatement, "Transfer state handler failed");
        }
        WakeWaiters();
    }

    std::function<void(int)> stateChanged_;
    std::unique_ptr<QObject> receiver_; // lives on the creating thread; receives the reports
    std::shared_ptr<HttpSession> session_;
    std::unique_ptr<Transfer> transfer_;
    std::uint64_t generation_ = 0;
    bool stillExecuting_ = false;
    std::string response_;
    std::size_t readPos_ = 0;
    long responseCode_ = 0;
    std::string responseInfo_;
    Credentials credentials_;
};

} // namespace

std::unique_ptr<Inet> createCurlInet(std::function<void(int state)> stateChanged) {
    return std::make_unique<CurlInet>(std::move(stateChanged));
}

} // namespace tavik::platform::qt
