#include "Locale.h"
#include "RuntimeError.h"
// placeholder: implemented by the locale work
namespace platform {
DateTime makeDate(int, unsigned, unsigned) { throw RuntimeError("not implemented"); }
DateTime CDate(std::string_view) { throw RuntimeError("not implemented"); }
bool IsDate(std::string_view) { return false; }
std::string generalDate(const DateTime&) { return {}; }
std::string shortDate(const DateTime&) { return {}; }
std::string formatMMMddyyyy(const DateTime&) { return {}; }
std::string isoDate(const DateTime&) { return {}; }
long dateDiffDays(const DateTime&, const DateTime&) { return 0; }
double Val(std::string_view) { return 0; }
double roundHalfEven(double v) { return v; }
std::int32_t CLng(double v) { return std::int32_t(v); }
std::int16_t CInt(double v) { return std::int16_t(v); }
std::int16_t CInt(std::string_view) { throw RuntimeError("not implemented"); }
} // namespace platform
