#include "store/PostgresUri.h"

#include "common/Text.h"

#include <vector>

namespace vcserver {

namespace {

constexpr std::string_view kRedacted = "***";
// Connection parameters whose values are secrets.
constexpr std::string_view kSecretKeys[] = {"password", "sslpassword"};

struct Span {
    std::size_t from = 0;
    std::size_t length = 0;
};

// Undecodable escapes stay as they are: the URI is only searched for its secrets here.
std::string percentDecoded(std::string_view text) {
    return tavik::common::percentDecode(text, false).value_or(std::string(text));
}

// Where the secrets sit in the URI text, in order: the password of the user part, then the
// values of secret query parameters.
std::vector<Span> secretSpans(std::string_view uri) {
    std::vector<Span> spans;
    const auto scheme = uri.find("://");
    if (scheme == std::string_view::npos) {
        return spans;
    }
    const std::size_t authorityStart = scheme + 3;
    const std::size_t authorityEnd = std::min(uri.find_first_of("/?", authorityStart), uri.size());
    const std::string_view authority = uri.substr(authorityStart, authorityEnd - authorityStart);
    const auto at = authority.rfind('@');
    if (at != std::string_view::npos) {
        const auto colon = authority.substr(0, at).find(':');
        if (colon != std::string_view::npos) {
            spans.push_back({authorityStart + colon + 1, at - colon - 1});
        }
    }
    const auto query = uri.find('?', authorityEnd);
    if (query == std::string_view::npos) {
        return spans;
    }
    for (std::size_t pos = query + 1; pos < uri.size();) {
        const std::size_t end = std::min(uri.find('&', pos), uri.size());
        const std::string_view pair = uri.substr(pos, end - pos);
        const auto equals = pair.find('=');
        if (equals != std::string_view::npos) {
            const std::string key = percentDecoded(pair.substr(0, equals));
            for (const auto secret : kSecretKeys) {
                if (key == secret) {
                    spans.push_back({pos + equals + 1, pair.size() - equals - 1});
                }
            }
        }
        pos = end + 1;
    }
    return spans;
}

void replaceAll(std::string& text, std::string_view from, std::string_view to) {
    if (from.empty()) {
        return;
    }
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

} // namespace

bool isPostgresUri(std::string_view db) {
    return db.starts_with("postgresql://") || db.starts_with("postgres://");
}

std::string redactedUri(std::string_view uri) {
    std::string out(uri);
    const auto spans = secretSpans(uri);
    // From the back, so earlier positions stay valid.
    for (auto it = spans.rbegin(); it != spans.rend(); ++it) {
        out.replace(it->from, it->length, kRedacted);
    }
    return out;
}

std::string scrubbed(std::string message, std::string_view uri) {
    replaceAll(message, uri, redactedUri(uri));
    for (const auto& span : secretSpans(uri)) {
        const std::string_view raw = uri.substr(span.from, span.length);
        replaceAll(message, raw, kRedacted);
        replaceAll(message, percentDecoded(raw), kRedacted);
    }
    return message;
}

std::string oneLine(std::string_view text) {
    std::string out;
    bool space = false;
    for (const char c : text) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            space = !out.empty();
        } else {
            if (space) {
                out += ' ';
                space = false;
            }
            out += c;
        }
    }
    return out;
}

} // namespace vcserver
