#include "CommandLine.h"

#include <getopt.h>

namespace vcserver {

std::optional<Arguments> readArguments(int argc, char** argv, const std::vector<KnownOption>& known,
                                       std::string& problem) {
    // getopt_long's codes for operands, "-h" and trouble stay below this.
    constexpr int kFirstKnown = 1000;
    std::vector<option> table;
    for (std::size_t i = 0; i < known.size(); ++i)
        table.push_back({known[i].name, known[i].takesValue ? required_argument : no_argument,
                         nullptr, kFirstKnown + static_cast<int>(i)});
    table.push_back({nullptr, 0, nullptr, 0});

    Arguments arguments;
    opterr = 0; // the caller says what went wrong, in its own words
    optind = 0; // a fresh scan, also when called twice in one process
    // "-" keeps operands in place, so "user add NAME" reads as written; ":" tells a missing
    // value from an unknown option; "-h" is "--help".
    int index = 0;
    for (int found; (found = getopt_long(argc, argv, "-:h", table.data(), &index)) != -1;) {
        if (found == 'h') {
            arguments.options.emplace_back("help", "");
        } else if (found == 1) {
            arguments.operands.emplace_back(optarg);
        } else if (found == ':') {
            problem = std::string(argv[optind - 1]) + " wants a value";
            return std::nullopt;
        } else if (found == '?') {
            problem = "unexpected argument '" + std::string(argv[optind - 1]) + "'";
            return std::nullopt;
        } else {
            arguments.options.emplace_back(known[std::size_t(found - kFirstKnown)].name,
                                           optarg ? optarg : "");
        }
    }
    return arguments;
}

} // namespace vcserver
