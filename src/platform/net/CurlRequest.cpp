#include "CurlRequest.h"

#include <cstdlib>

namespace tavik::platform {

bool curlReady() {
    static const CURLcode initialised = curl_global_init(CURL_GLOBAL_DEFAULT);
    return initialised == CURLE_OK;
}

void setUpRequest(CURL* handle, const std::string& url, std::chrono::milliseconds connectLimit,
                  std::chrono::milliseconds transferLimit, curl_off_t maxBytes,
                  const Credentials& credentials) {
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, long(connectLimit.count()));
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, long(transferLimit.count()));
    curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, maxBytes);
    // The host's credentials come first, then those in the URL; otherwise ~/.netrc may hold
    // them, so a clerk's password need not sit in the host's settings. libcurl copies them.
    if (!credentials.empty()) {
        curl_easy_setopt(handle, CURLOPT_USERNAME, credentials.user.c_str());
        curl_easy_setopt(handle, CURLOPT_PASSWORD, credentials.password.c_str());
    }
    curl_easy_setopt(handle, CURLOPT_NETRC, long(CURL_NETRC_OPTIONAL));
    // A private CA, as the curl tool takes it; otherwise the system's store.
    if (const char* bundle = std::getenv("CURL_CA_BUNDLE"); bundle && *bundle) {
        curl_easy_setopt(handle, CURLOPT_CAINFO, bundle);
    }
}

} // namespace tavik::platform
