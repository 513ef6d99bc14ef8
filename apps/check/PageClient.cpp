#include "PageClient.h"

#include "common/CodePage.h"
#include "platform/Inet.h"
#include "platform/net/CurlRequest.h"

#include <curl/curl.h>

#include <memory>

namespace vccheck {

namespace {

struct Answer {
    std::string body;
    bool tooLarge = false;
};

size_t receiveAnswer(char* data, size_t size, size_t count, void* context) {
    auto& answer = *static_cast<Answer*>(context);
    const std::size_t length = size * count;
    if (answer.body.size() + length > tavik::platform::kMaxAnswerBytes) {
        answer.tooLarge = true;
        return 0;
    }
    answer.body.append(data, length);
    return length;
}

} // namespace

PostedStatement postStatement(const tavik::StatementRequest& request, const TimeLimits& limits) {
    PostedStatement posted;
    const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(
        tavik::platform::curlReady() ? curl_easy_init() : nullptr, &curl_easy_cleanup);
    if (!curl) {
        posted.failure = "the HTTP library could not be set up";
        return posted;
    }
    CURL* h = curl.get();
    tavik::platform::setUpRequest(h, request.url, limits.connect, limits.transfer,
                                  curl_off_t(tavik::platform::kMaxAnswerBytes));
    // The control's one header line, and no wait for "100 Continue" before the body.
    const std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headers(
        curl_slist_append(curl_slist_append(nullptr, request.headers.c_str()), "Expect:"),
        &curl_slist_free_all);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(request.body.size()));
    curl_easy_setopt(h, CURLOPT_COPYPOSTFIELDS, request.body.c_str());
    Answer answer;
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &receiveAnswer);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &answer);
    char details[CURL_ERROR_SIZE] = "";
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, details);

    const CURLcode result = curl_easy_perform(h);
    curl_off_t microseconds = 0;
    curl_easy_getinfo(h, CURLINFO_TOTAL_TIME_T, &microseconds);
    posted.duration = std::chrono::microseconds(microseconds);
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &posted.status);
    const char* location = nullptr;
    if (curl_easy_getinfo(h, CURLINFO_REDIRECT_URL, &location) == CURLE_OK && location)
        posted.redirect = location;
    if (result != CURLE_OK) {
        posted.failure = answer.tooLarge || result == CURLE_FILESIZE_EXCEEDED
                             ? "the answer is larger than 1 MiB"
                         : *details ? details
                                    : curl_easy_strerror(result);
        return posted;
    }
    posted.completed = true;
    posted.answer = tavik::common::isValidUtf8(answer.body) ? std::move(answer.body)
                                                            : tavik::common::fromAnsi(answer.body);
    return posted;
}

} // namespace vccheck
