#pragma once

#include "LoadCheck.h"
#include "Progress.h"
#include "Report.h"

#include "control/LoadDocument.h"

#include <cstdint>
#include <optional>
#include <string>

namespace tavik::platform {
class XmlDocument;
} // namespace tavik::platform

// The load document's elements as the control reads and shows them.
namespace vccheck {

// Fills a LoadedPage with what the control's reader hands the widgets.
class PageReader final : public tavik::LoadDocumentReader {
public:
    explicit PageReader(LoadedPage& page) : page_(page) {}
    void lookupName(Lookup list, const std::string& name) override {
        entries(list).push_back({name, 0});
        lastCode_ = std::nullopt;
    }
    void lookupCode(Lookup list, std::int32_t code) override {
        entries(list).back().code = code;
        lastCode_ = code;
    }
    void commentRow(const Row& row) override { page_.rows.push_back(row); }
    // The code of the entry last listed; none when it could not be read.
    std::optional<std::int32_t> lastCode() const { return lastCode_; }

private:
    std::vector<LookupEntry>& entries(Lookup list) {
        return list == Lookup::Location ? page_.locations : page_.types;
    }
    LoadedPage& page_;
    std::optional<std::int32_t> lastCode_;
};

// Every LOC and TYP entry and GRID row, finding by finding. The reading goes on past the
// element where the control's load stops, so that the report names every fault at once.
// Rows of another vendor than `vendor` are named.
void checkDocument(const tavik::platform::XmlDocument& document, const std::string& vendor,
                   Report& report, Progress& progress);

} // namespace vccheck
