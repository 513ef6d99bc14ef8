#include "LoadCheck.h"

#include "DocumentCheck.h"

#include "common/CodePage.h"
#include "common/Text.h"
#include "platform/RuntimeError.h"
#include "platform/XmlDocument.h"
#include "platform/net/DocumentFetch.h"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace vccheck {

namespace platform = tavik::platform;
namespace common = tavik::common;

// An HTML page, by its first markup: the content type says nothing, as classic server pages
// send text/html whatever they write, and the control never looks at it.
bool looksLikeHtml(std::string_view body) {
    body = body.substr(0, 512);
    if (body.starts_with("\xEF\xBB\xBF"))
        body.remove_prefix(3);
    const std::size_t start = body.find_first_not_of(" \t\r\n");
    std::string head(body.substr(std::min(start, body.size()), 14));
    std::transform(head.begin(), head.end(), head.begin(), common::asciiLower);
    return head.starts_with("<!doctype html") || head.starts_with("<html");
}

namespace {

// An HTML page's title, for the finding that names it.
std::string htmlTitle(const std::string& body) {
    std::string lower = body.substr(0, 64 * 1024);
    std::transform(lower.begin(), lower.end(), lower.begin(), common::asciiLower);
    const std::size_t open = lower.find("<title");
    const std::size_t begin = open == std::string::npos ? open : lower.find('>', open);
    const std::size_t end = begin == std::string::npos ? begin : lower.find("</title", begin);
    if (end == std::string::npos)
        return {};
    return std::string(
        common::trimBlanks(std::string_view(body).substr(begin + 1, end - begin - 1)));
}

} // namespace

std::string htmlPage(const std::string& body) {
    const std::string title = htmlTitle(body);
    return title.empty() ? "an HTML page" : "an HTML page titled " + quote(title);
}

// What comes before the XML declaration, which XML allows nothing before (but a byte-order
// mark); nothing when the declaration comes first or there is none before the root element.
std::optional<std::string_view> beforeDeclaration(std::string_view body) {
    const std::size_t start = body.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    std::size_t element = body.find('<', start);
    while (element != std::string_view::npos && element + 1 < body.size() &&
           (body[element + 1] == '?' || body[element + 1] == '!'))
        element = body.find('<', element + 1);
    const std::string_view head = body.substr(0, element);
    for (std::size_t at = head.find("<?xml", start); at != std::string_view::npos;
         at = head.find("<?xml", at + 1)) {
        const char next = at + 5 < head.size() ? head[at + 5] : '\0';
        if (next != ' ' && next != '\t' && next != '\r' && next != '\n' && next != '?')
            continue;
        if (at == start)
            return std::nullopt;
        return head.substr(start, at - start);
    }
    return std::nullopt;
}

namespace {

const char* const kEmptyLists = "the control's load fails and its lists stay empty";

std::string seconds(std::chrono::microseconds duration) {
    char text[32];
    if (duration < std::chrono::seconds(1))
        std::snprintf(text, sizeof text, "%lld ms",
                      static_cast<long long>((duration.count() + 500) / 1000));
    else
        std::snprintf(text, sizeof text, "%.1f s", double(duration.count()) / 1e6);
    return text;
}

std::string limitText(std::chrono::milliseconds limit) {
    return seconds(std::chrono::duration_cast<std::chrono::microseconds>(limit));
}

std::string megabytes(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", double(bytes) / 1e6);
    return text;
}

// The answer: whether it came, from where, its status, time and size. False when there is
// no document to read.
bool checkAnswer(const platform::FetchedDocument& fetched, const std::string& url,
                 const TimeLimits& limits, Report& report) {
    if (!fetched.completed) {
        if (fetched.tooLarge)
            report.fail("load",
                        "the document is larger than 128 MiB, the most the control reads: " +
                            std::string(kEmptyLists));
        else if (fetched.timedOut)
            report.fail("load", "no answer within " + limitText(limits.transfer) + " (" +
                                    fetched.failure +
                                    "): the host is frozen under the busy pointer that long, "
                                    "then " +
                                    kEmptyLists);
        else
            report.fail("load", "no answer (" + fetched.failure + "): " + kEmptyLists);
        return false;
    }
    if (fetched.redirects > 0)
        report.fail("load", "the page redirects to " + withoutPassword(fetched.finalUrl) +
                                ": the control follows redirects when loading, but posts its "
                                "statements to " +
                                withoutPassword(url.substr(0, url.find('?'))) +
                                " without following them, and takes a redirect's blank answer "
                                "as accepted: changes seem saved and are lost");
    const std::string answer =
        "HTTP " + std::to_string(fetched.status) + " in " + seconds(fetched.duration) + ", " +
        grouped(fetched.body.size()) + " bytes" +
        (fetched.contentType.empty() ? "" : " (" + fetched.contentType + ")");
    if (fetched.status < 200 || fetched.status > 299) {
        report.fail("load", answer +
                                (looksLikeHtml(fetched.body) ? ", " + htmlPage(fetched.body) : "") +
                                ": " + kEmptyLists +
                                (fetched.status == 401
                                     ? " (the page wants a user: give one in the URL or in "
                                       "~/.netrc, as the control takes it)"
                                     : ""));
        return false;
    }
    if (looksLikeHtml(fetched.body)) {
        report.fail("load", answer + ": " + htmlPage(fetched.body) +
                                ", not a load document: the control's lists stay empty");
        return false;
    }
    if (fetched.duration * 2 > limits.transfer)
        report.warn("load", answer + ": more than half the control's limit of " +
                                limitText(limits.transfer) +
                                "; the host is frozen under the busy pointer while it loads");
    else
        report.pass("load", answer);
    return true;
}

// The first character beyond ASCII, for a finding about the encoding.
std::string firstNonAscii(std::string_view bytes) {
    const auto at = std::find_if(bytes.begin(), bytes.end(),
                                 [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    if (at == bytes.end())
        return {};
    std::size_t length = 1;
    while (length < 4 && at + length != bytes.end() &&
           (static_cast<unsigned char>(at[length]) & 0xC0) == 0x80)
        ++length;
    return std::string(at, at + length);
}

// A character as the control's XML parser reads it under a declared encoding.
std::string readAs(const std::string& declared, const std::string& character) {
    platform::XmlDocument document;
    if (!document.loadXml("<?xml version=\"1.0\" encoding=\"" + declared + "\"?><x>" + character +
                          "</x>"))
        return "?";
    return document.documentElement().text();
}

void checkEncoding(const std::string& body, Report& report) {
    using Reading = platform::DocumentEncoding::Reading;
    const platform::DocumentEncoding encoding = platform::documentEncoding(body);
    const std::string sample = firstNonAscii(body);
    switch (encoding.reading) {
    case Reading::Utf8:
        report.pass("encoding", encoding.declared.empty() ? "UTF-8 (no declaration: XML's default)"
                                                          : "UTF-8, as declared");
        break;
    case Reading::Windows1252:
        if (encoding.declared == "windows-1252" || encoding.declared == "cp1252") {
            if (!sample.empty() && common::isValidUtf8(body))
                report.warn("encoding",
                            "declared Windows-1252, but the bytes are UTF-8: the control reads "
                            "them as Windows-1252, so " +
                                quote(sample) + " shows as " + quote(common::fromAnsi(sample)));
            else
                report.pass("encoding", "Windows-1252, as declared");
        } else {
            report.warn("encoding",
                        std::string(encoding.declared.empty() ? "no declaration, so UTF-8"
                                                              : "declared UTF-8") +
                            ", but the bytes are not UTF-8: the control reads them as "
                            "Windows-1252 (" +
                            quote(common::fromAnsi(sample.substr(0, 1))) +
                            "); declare encoding=\"windows-1252\" to say so");
        }
        break;
    case Reading::AsDeclared:
        if (!sample.empty() && common::isValidUtf8(body) && body.find('\0') == std::string::npos) {
            const std::string shown = readAs(encoding.declared, sample);
            if (shown != sample)
                report.warn("encoding", "declared " + quote(encoding.declared) +
                                            ", but the bytes are UTF-8: the control reads them "
                                            "as declared, so " +
                                            quote(sample) + " shows as " + quote(shown));
            else
                report.pass("encoding", "declared " + quote(encoding.declared) +
                                            ", but the bytes are UTF-8, which the XML parser "
                                            "reads as UTF-8 all the same");
        } else {
            report.pass("encoding",
                        "declared " + quote(encoding.declared) + ", read by the XML parser");
        }
        break;
    }
}

platform::FetchedDocument fetchAnswer(const std::string& url, const TimeLimits& limits,
                                      Progress* progress) {
    platform::FetchProgress shown;
    if (progress)
        shown = [progress](std::uint64_t received) {
            progress->show("fetching the load document: " + megabytes(received));
        };
    return platform::fetchDocument(url, limits.connect, limits.transfer, shown);
}

} // namespace

void checkLoad(const LoadRequest& request, const TimeLimits& limits, Report& report,
               Progress& progress) {
    const std::string url =
        tavik::LoadDocumentURL(request.serverName, request.vendor, request.scrn, request.poDate);
    report.pass("request", "GET " + withoutPassword(url));
    progress.show("fetching the load document");
    auto fetched = fetchAnswer(url, limits, &progress);
    if (!checkAnswer(fetched, url, limits, report))
        return;
    if (const auto before = beforeDeclaration(fetched.body)) {
        report.fail("document", counted(before->size(), "byte") + " before the XML declaration (" +
                                    quote(*before) +
                                    "): not well-formed XML, since the declaration must come "
                                    "first: " +
                                    kEmptyLists);
        return;
    }
    checkEncoding(fetched.body, report);

    platform::XmlDocument document;
    progress.show("parsing the load document");
    const bool wellFormed = document.loadXml(std::move(fetched.body));
    if (!wellFormed) {
        report.fail("document", document.failure() + ": " + kEmptyLists);
        return;
    }
    const std::string root = document.documentElement().nodeName();
    if (common::equalsIgnoreCase(root, "html")) {
        report.fail("document", "root element <" + root +
                                    ">: an HTML page, not a load document: the control's lists "
                                    "stay empty");
        return;
    }
    report.pass("document", "well-formed XML; root element <" + root + "> (its name is not read)");

    checkDocument(document, request.vendor, report, progress);
    progress.clear();
}

LoadedPage readLoad(const LoadRequest& request, const TimeLimits& limits) {
    LoadedPage page;
    const std::string url =
        tavik::LoadDocumentURL(request.serverName, request.vendor, request.scrn, request.poDate);
    auto fetched = fetchAnswer(url, limits, nullptr);
    if (!fetched.completed) {
        page.failure = "no answer (" + fetched.failure + ")";
        return page;
    }
    if (fetched.status < 200 || fetched.status > 299) {
        page.failure = "HTTP " + std::to_string(fetched.status);
        return page;
    }
    if (beforeDeclaration(fetched.body)) {
        page.failure = "not well-formed XML (something before the XML declaration)";
        return page;
    }
    platform::XmlDocument document;
    if (!document.loadXml(std::move(fetched.body))) {
        page.failure = document.failure();
        return page;
    }
    PageReader reader(page);
    try {
        tavik::ReadLoadElements(document, reader);
        page.complete = true;
    } catch (const platform::RuntimeError& error) {
        page.failure = std::string("the load stops (") + error.what() + ")";
    }
    return page;
}

} // namespace vccheck
