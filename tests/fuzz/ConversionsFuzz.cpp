// The control's date and number conversions on arbitrary text: nothing escapes but the
// control's own run-time error, and normalising is idempotent (the general date text reads
// back to the same text, a rounded number rounds to itself).

#include "platform/Locale.h"
#include "platform/RuntimeError.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace tavik::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const std::string once = generalDate(CDate(text));
        if (generalDate(CDate(once)) != once || !IsDate(once))
            std::abort();
    } catch (const RuntimeError&) {
        if (IsDate(text))
            std::abort();
    }
    try {
        const double value = Val(text); // may overflow, as the platform's Val does
        const double rounded = roundHalfEven(value);
        if (std::isfinite(rounded) && roundHalfEven(rounded) != rounded)
            std::abort();
        const std::int32_t code = CLng(value);
        if (CLng(double(code)) != code)
            std::abort();
    } catch (const RuntimeError&) {
    }
    try {
        const std::int16_t mode = CInt(text);
        if (CInt(std::to_string(mode)) != mode)
            std::abort();
    } catch (const RuntimeError&) {
    }
    return 0;
}
