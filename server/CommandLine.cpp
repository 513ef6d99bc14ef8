#include "CommandLine.h"

#include "common/Text.h"

#include <getopt.h>

#include <utility>

namespace vcserver {

std::optional<Arguments> readArguments(int argc, char** argv, const std::vector<KnownOption>& known,
                                       std::string& problem, bool takesOperands) {
    // getopt_long's codes for operands, "-h" and trouble stay below these.
    constexpr int kHelp = 999;
    constexpr int kFirstKnown = 1000;
    std::vector<option> table;
    for (std::size_t i = 0; i < known.size(); ++i) {
        const bool flag = std::holds_alternative<bool*>(known[i].into);
        table.push_back({known[i].name, flag ? no_argument : required_argument, nullptr,
                         kFirstKnown + static_cast<int>(i)});
    }
    table.push_back({"help", no_argument, nullptr, kHelp});
    table.push_back({nullptr, 0, nullptr, 0});

    // Every word is read before any is taken, so a misspelt option is reported whatever
    // comes before it.
    std::vector<std::pair<int, std::string>> found; // code and value, in order
    Arguments arguments;
    opterr = 0; // the caller says what went wrong, in its own words
    optind = 0; // a fresh scan, also when called twice in one process
    // "-" keeps operands in place, so "user add NAME" reads as written; ":" tells a missing
    // value from an unknown option; "-h" is "--help".
    int index = 0;
    for (int code; (code = getopt_long(argc, argv, "-:h", table.data(), &index)) != -1;) {
        if (code == 'h' || code == kHelp) {
            found.emplace_back(kHelp, "");
        } else if (code == 1) {
            arguments.operands.emplace_back(optarg);
        } else if (code == ':') {
            problem = std::string(argv[optind - 1]) + " wants a value";
            return std::nullopt;
        } else if (code == '?') {
            problem = "unexpected argument '" + tavik::common::excerpt(argv[optind - 1]) + "'";
            return std::nullopt;
        } else {
            found.emplace_back(code, optarg ? optarg : "");
        }
    }
    if (!takesOperands && !arguments.operands.empty()) {
        problem =
            "unexpected argument '" + tavik::common::excerpt(arguments.operands.front()) + "'";
        return std::nullopt;
    }

    for (const auto& [code, value] : found) {
        if (code == kHelp) {
            arguments.help = true;
            return arguments;
        }
        const KnownOption& option = known[std::size_t(code - kFirstKnown)];
        if (const auto flag = std::get_if<bool*>(&option.into)) {
            **flag = true;
            if (option.answers) {
                return arguments;
            }
        } else if (const auto text = std::get_if<std::string*>(&option.into)) {
            **text = value;
        } else if (const auto given = std::get_if<std::optional<std::string>*>(&option.into)) {
            **given = value;
        } else if (problem = std::get<KnownOption::Check>(option.into)(value); !problem.empty()) {
            return std::nullopt;
        }
    }
    return arguments;
}

} // namespace vcserver
