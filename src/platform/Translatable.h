#pragma once

#include <string_view>

// Texts the user sees. The logic keeps them in English, compares them and hands them to the
// seam as they are; the widgets and message boxes translate them when they show them, in one
// context of Qt's catalogs.
namespace tavik::platform {

inline constexpr std::string_view kTextContext = "tavik::VendorComment";

// The text itself. The context is checked at compile time: a text marked in another one would
// be catalogued where the widgets never look.
consteval const char* markedText(std::string_view context, const char* text) {
    if (context != kTextContext)
        throw "TAVIK_TR names a context the widgets do not translate in";
    return text;
}

} // namespace tavik::platform

// Marks a text for lupdate, which reads TAVIK_TR as QT_TRANSLATE_NOOP (the catalog is written
// by cmake/Lupdate.cmake); the program sees the English text.
#define TAVIK_TR(context, text) ::tavik::platform::markedText(context, text)
