// The server's date text: what it accepts it writes, and what it writes it reads back to
// the same date, in both of its written forms.

#include "statement/DateText.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace vcserver;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto date = parseDateText(text);
    if (!date)
        return 0;
    if (*date == CalendarDate{} || date->year < kFirstDate.year || date->year > kLastDate.year)
        std::abort();
    for (const std::string& written : {shortDate(*date), isoDate(*date)}) {
        const auto back = parseDateText(written);
        if (!back || !(*back == *date))
            std::abort();
    }
    return 0;
}
