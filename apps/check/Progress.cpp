#include "Progress.h"

#include "common/Text.h"

#include <unistd.h>

#include <cstdio>

namespace vccheck {

Progress::Progress() : enabled_(isatty(STDERR_FILENO) == 1) {}

void Progress::show(const std::string& text) {
    if (!enabled_)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (shown_ && now - last_ < std::chrono::milliseconds(100))
        return;
    last_ = now;
    shown_ = true;
    // Back to the start of the line, the text, and the rest of the old line erased.
    std::fprintf(stderr, "\r%s\x1b[K", text.c_str());
    std::fflush(stderr);
}

void Progress::clear() {
    if (!shown_)
        return;
    shown_ = false;
    std::fprintf(stderr, "\r\x1b[K");
    std::fflush(stderr);
}

std::string grouped(unsigned long long number) {
    const std::string digits = std::to_string(number);
    std::string text;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            text += ',';
        text += digits[i];
    }
    return text;
}

std::string counted(unsigned long long number, const std::string& noun) {
    return grouped(number) + " " + tavik::common::nounAfter(number, noun);
}

} // namespace vccheck
