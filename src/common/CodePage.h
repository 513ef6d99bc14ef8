#pragma once

#include <string>
#include <string_view>

// The ANSI code page of the platform: Windows-1252. Texts inside the control are UTF-8.
namespace tavik::common {

// UTF-8 to Windows-1252 bytes; a character the code page lacks becomes "?".
std::string toAnsi(std::string_view utf8);
// Windows-1252 bytes to UTF-8 (the five unassigned bytes map to the C1 controls).
std::string fromAnsi(std::string_view bytes);
// The character a Windows-1252 byte stands for, as fromAnsi reads it.
char32_t unicodeOfAnsi(unsigned char byte);
bool isValidUtf8(std::string_view bytes);

} // namespace tavik::common
