#include "CurlInet.h"

#include "../CodePage.h"
#include "../CurlRequest.h"
#include "../EventPump.h"
#include "../RuntimeError.h"
#include "../TestHooks.h"
#include "../Text.h"

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
#include <thread>

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

// A statement's answer is a short text; anything longer is not an answer the control can
// show, and an endless one must not exhaust the host's memory.
constexpr std::size_t kMaxAnswerBytes = 1024 * 1024;

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

// What the worker reports to the user-interface thread: a state and, with the final
// state, the outcome of the transfer.
struct Report {
    explicit Report(int state) : state(state) {}
    int state;
    long code = 0;
    std::string info;
    std::string body;
};

// One HTTP request: its curl handles, set up on the user-interface thread, then driven to
// its end by a worker thread. The handles are released on the user-interface thread once
// the worker has been joined.
struct Transfer {
    CURLM* multi = nullptr;
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;
    std::atomic<bool> cancelled{false};

    // Touched by the worker only, while it runs.
    std::function<void(Report)> report;
    std::string body;
    std::string statusText;
    curl_off_t uploadSize = 0;
    bool connected = false;
    bool tooLarge = false;
    bool sentReported = false;
    bool responseReported = false;

    Transfer() {
        multi = curlReady() ? curl_multi_init() : nullptr;
        easy = curlReady() ? curl_easy_init() : nullptr;
        if (!multi || !easy)
            throw RuntimeError("Unable to create the transfer");
    }
    ~Transfer() {
        if (multi && easy)
            curl_multi_remove_handle(multi, easy);
        curl_easy_cleanup(easy);
        curl_multi_cleanup(multi);
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
        : stateChanged_(std::move(stateChanged)), receiver_(std::make_unique<QObject>()) {}

    ~CurlInet() override { stop(); }

    void Cancel() override { stop(); }

    void Execute(const std::string& url, const std::string& operation, const std::string& inputData,
                 const std::string& inputHdrs) override {
        if (stillExecuting_)
            throw RuntimeError("Still executing last request");
        const bool isPost = equalsIgnoreCase(operation, "Post");
        if (!isPost && !operation.empty() && !equalsIgnoreCase(operation, "Get"))
            throw RuntimeError("Unsupported operation: " + operation);
        checkUrl(url);
        stop();

        auto transfer = std::make_unique<Transfer>();
        CURL* h = transfer->easy;
        setUpRequest(h, url, std::chrono::milliseconds(connectLimitMs.load()),
                     std::chrono::milliseconds(transferLimitMs.load()),
                     curl_off_t(kMaxAnswerBytes));
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &receiveBody);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, transfer.get());
        curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &receiveHeader);
        curl_easy_setopt(h, CURLOPT_HEADERDATA, transfer.get());
        curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, &connectionReady);
        curl_easy_setopt(h, CURLOPT_PREREQDATA, transfer.get());
        transfer->headers = headerList(inputHdrs);
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, transfer->headers);
        if (isPost) {
            transfer->uploadSize = curl_off_t(inputData.size());
            curl_easy_setopt(h, CURLOPT_POST, 1L);
            curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, transfer->uploadSize);
            curl_easy_setopt(h, CURLOPT_COPYPOSTFIELDS, inputData.c_str());
        }
        if (curl_multi_add_handle(transfer->multi, h) != CURLM_OK)
            throw RuntimeError("Unable to start the transfer");

        const std::uint64_t generation = ++generation_;
        transfer->report = [this, generation](Report report) {
            post(generation, std::move(report));
        };
        response_.clear();
        readPos_ = 0;
        responseCode_ = 0;
        responseInfo_.clear();
        try {
            worker_ = std::thread([this, t = transfer.get()] { run(*t); });
        } catch (const std::system_error& e) {
            throw RuntimeError(std::string("Unable to start the transfer: ") + e.what());
        }
        transfer_ = std::move(transfer);
        stillExecuting_ = true;
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

    long ResponseCode() const override { return responseCode_; }
    std::string ResponseInfo() const override { return responseInfo_; }

private:
    // Abandons the transfer in flight, if any, and everything it has queued.
    void stop() {
        ++generation_;
        if (transfer_) {
            transfer_->cancelled = true;
            curl_multi_wakeup(transfer_->multi);
        }
        if (worker_.joinable())
            worker_.join();
        transfer_.reset();
        stillExecuting_ = false;
    }

    // The worker: drives the transfer until it ends or is cancelled, then reports the end.
    // Nothing may leave the thread: an exception there would end the host process.
    void run(Transfer& t) noexcept {
        try {
            drive(t);
        } catch (const std::exception& e) {
            reportFailure(t, e.what());
        } catch (...) {
            reportFailure(t, "Unexpected error");
        }
    }

    static void reportFailure(Transfer& t, const char* reason) noexcept {
        try {
            Report end(icError);
            end.info = reason;
            t.report(std::move(end));
        } catch (...) {
            // Out of memory even for the report: nothing more can be done from this thread.
        }
    }

    void drive(Transfer& t) {
        int running = 1;
        CURLMcode status = CURLM_OK;
        while (!t.cancelled) {
            status = curl_multi_perform(t.multi, &running);
            if (t.connected && !t.sentReported) {
                curl_off_t sent = 0;
                curl_easy_getinfo(t.easy, CURLINFO_SIZE_UPLOAD_T, &sent);
                if (sent >= t.uploadSize)
                    t.reportRequestSent();
            }
            if (status != CURLM_OK || running == 0)
                break;
            status = curl_multi_poll(t.multi, nullptr, 0, 1000, nullptr);
            if (status != CURLM_OK)
                break;
        }
        if (t.cancelled)
            return;

        Report end(icError);
        int queued = 0;
        const CURLMsg* message = nullptr;
        CURLcode result = CURLE_RECV_ERROR;
        while (const CURLMsg* m = curl_multi_info_read(t.multi, &queued))
            if (m->msg == CURLMSG_DONE)
                message = m, result = m->data.result;
        if (status != CURLM_OK) {
            end.code = status;
            end.info = curl_multi_strerror(status);
        } else if (!message || result != CURLE_OK) {
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
            end.body = isValidUtf8(t.body) ? std::move(t.body) : fromAnsi(t.body);
        }
        t.report(std::move(end));
    }

    // Queues a report for the user-interface thread; called by the worker.
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
            if (worker_.joinable())
                worker_.join();
            transfer_.reset();
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
        } catch (const std::exception& e) {
            qWarning("Transfer state handler failed: %s", e.what());
        } catch (...) {
            qWarning("Transfer state handler failed");
        }
        WakeWaiters();
    }

    std::function<void(int)> stateChanged_;
    std::unique_ptr<QObject> receiver_; // lives on the creating thread; receives the reports
    std::unique_ptr<Transfer> transfer_;
    std::thread worker_;
    std::uint64_t generation_ = 0;
    bool stillExecuting_ = false;
    std::string response_;
    std::size_t readPos_ = 0;
    long responseCode_ = 0;
    std::string responseInfo_;
};

} // namespace

std::unique_ptr<Inet> createCurlInet(std::function<void(int state)> stateChanged) {
    return std::make_unique<CurlInet>(std::move(stateChanged));
}

} // namespace tavik::platform::qt
