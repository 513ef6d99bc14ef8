#pragma once

#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace vcserver {

// An option a command takes, and where its value goes: "--name VALUE" (or "--name=VALUE")
// fills a text or goes through a check; "--name" alone sets a flag.
struct KnownOption {
    // Takes the value; returns why it will not do (one line), empty when it does.
    using Check = std::function<std::string(const std::string& value)>;

    const char* name;
    std::variant<bool*, std::string*, std::optional<std::string>*, Check> into;
    // A flag that is the whole answer (--version): the options after it are not taken.
    bool answers = false;
};

struct Arguments {
    std::vector<std::string> operands; // the words that are no option
    bool help = false;                 // --help or -h, which every command knows
};

// Reads the arguments after argv[0] with getopt_long, then takes the options in their order
// into their places, stopping after --help or a flag that answers. Returns nothing and sets
// `problem` to one line on an unknown option or one without its value, on any operand when
// the command takes none, and on a value its check refuses.
std::optional<Arguments> readArguments(int argc, char** argv, const std::vector<KnownOption>& known,
                                       std::string& problem, bool takesOperands = true);

} // namespace vcserver
