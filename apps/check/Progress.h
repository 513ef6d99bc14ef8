#pragma once

#include <chrono>
#include <string>

namespace vccheck {

// One line of progress on standard error, rewritten in place, and only on a terminal: a
// redirected or piped run gets the report and nothing else.
class Progress {
public:
    Progress();
    ~Progress() { clear(); }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // Shows the text, at most ten times a second.
    void show(const std::string& text);
    // Removes the line, before the report is printed.
    void clear();

private:
    bool enabled_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point last_{};
};

// A count with thousands separators: 100,000.
std::string grouped(unsigned long long number);
// A count and what it counts, plural unless there is one: "1 comment", "2,000 comments".
std::string counted(unsigned long long number, const std::string& noun);

} // namespace vccheck
