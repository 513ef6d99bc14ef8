#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vcserver {

// An option a command takes: "--name VALUE" (or "--name=VALUE") when it takes a value,
// "--name" alone otherwise.
struct KnownOption {
    const char* name;
    bool takesValue;
};

struct Arguments {
    std::vector<std::pair<std::string, std::string>> options; // name and value, in order
    std::vector<std::string> operands;                        // the words that are no option
};

// Reads the arguments after argv[0] with getopt_long. On an unknown option or one without
// its value, returns nothing and sets `problem` to one line saying which.
std::optional<Arguments> readArguments(int argc, char** argv, const std::vector<KnownOption>& known,
                                       std::string& problem);

} // namespace vcserver
