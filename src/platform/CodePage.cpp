#include "CodePage.h"
// placeholder: implemented by the code page work
namespace platform {
std::string toAnsi(std::string_view utf8) { return std::string(utf8); }
std::string fromAnsi(std::string_view bytes) { return std::string(bytes); }
bool isValidUtf8(std::string_view) { return true; }
} // namespace platform
