#pragma once

#include "PageClient.h"
#include "Progress.h"
#include "Report.h"

#include "control/LoadDocument.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The load: the request the control sends for a vendor, the answer, the document, and
// every lookup entry and comment row as the control reads and shows them.
namespace vccheck {

struct LoadRequest {
    std::string serverName; // the prefix the host gives LoadData
    std::string vendor, scrn, poDate;
};

struct LookupEntry {
    std::string name;
    std::int32_t code = 0;
};

// What the control holds after loading the page.
struct LoadedPage {
    bool complete = false; // read to its end; otherwise `failure` says where the load ended
    std::string failure;
    std::vector<LookupEntry> locations, types;
    std::vector<tavik::LoadDocumentReader::Row> rows;
};

// Checks the load, finding by finding.
void checkLoad(const LoadRequest& request, const TimeLimits& limits, Report& report,
               Progress& progress);

// Whether an answer is an HTML page, and its name for a finding ("an HTML page titled ...").
bool looksLikeHtml(std::string_view body);
std::string htmlPage(const std::string& body);

// What a document holds before its XML declaration; nothing when the declaration comes first.
std::optional<std::string_view> beforeDeclaration(std::string_view body);

// Loads as the control does, reporting nothing: the reloads of the statement check.
LoadedPage readLoad(const LoadRequest& request, const TimeLimits& limits);

} // namespace vccheck
