#pragma once

#include "../Credentials.h"

#include <curl/curl.h>

#include <chrono>
#include <string>

// What every request of the control asks of libcurl, whether the loader's GET or a
// transfer's POST.
namespace tavik::platform {

// libcurl's global set-up, once for the process; false when it failed.
bool curlReady();

// Web addresses only, no signals, proxies from the environment for remote servers only (never
// the local machine), the time limits, an answer no longer than `maxBytes`, the host's
// credentials or else those of the URL or ~/.netrc, and certificates checked against
// CURL_CA_BUNDLE when it is set.
void setUpRequest(CURL* handle, const std::string& url, std::chrono::milliseconds connectLimit,
                  std::chrono::milliseconds transferLimit, curl_off_t maxBytes,
                  const Credentials& credentials = {});

} // namespace tavik::platform
