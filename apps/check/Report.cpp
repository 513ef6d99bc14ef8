#include "Report.h"

#include "common/JsonWriter.h"

namespace vccheck {

using tavik::common::JsonWriter;

const char* levelName(Level level) {
    switch (level) {
    case Level::Pass:
        return "PASS";
    case Level::Warn:
        return "WARN";
    case Level::Fail:
        return "FAIL";
    }
    return "";
}

std::string quote(std::string_view text, std::size_t limit) {
    std::string quoted = "\"";
    std::size_t characters = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        // Characters are counted at their first byte, so a cut never splits one.
        if ((c & 0xC0) != 0x80 && characters++ == limit) {
            quoted += "...";
            break;
        }
        if (c == '\r')
            quoted += "\\r";
        else if (c == '\n')
            quoted += "\\n";
        else if (c == '\t')
            quoted += "\\t";
        else if (c < 0x20)
            quoted += '?';
        else
            quoted += char(c);
    }
    return quoted + "\"";
}

std::string withoutPassword(std::string_view url) {
    const std::size_t scheme = url.find("://");
    if (scheme == std::string_view::npos)
        return std::string(url);
    const std::size_t begin = scheme + 3;
    const std::string_view authority = url.substr(begin, url.find_first_of("/?#", begin) - begin);
    const std::size_t at = authority.rfind('@');
    const std::size_t colon = authority.substr(0, at).find(':');
    if (at == std::string_view::npos || colon == std::string_view::npos)
        return std::string(url);
    return std::string(url.substr(0, begin + colon + 1)) + "***" +
           std::string(url.substr(begin + at));
}

Finding& Report::add(Level level, std::string subject, std::string text) {
    Finding& finding = findings_.emplace_back();
    finding.level = level;
    finding.subject = std::move(subject);
    finding.text = std::move(text);
    return finding;
}

int Report::count(Level level) const {
    int n = 0;
    for (const Finding& finding : findings_)
        n += finding.level == level;
    return n;
}

std::string Report::text(bool quiet) const {
    std::string out;
    for (const Finding& finding : findings_) {
        if (quiet && finding.level == Level::Pass)
            continue;
        std::string subject = finding.subject;
        if (subject.size() < 9)
            subject.resize(9, ' ');
        out += levelName(finding.level);
        out += "  " + subject + " " + finding.text + "\n";
    }
    out += "SUMMARY  " + std::to_string(count(Level::Pass)) + " PASS, " +
           std::to_string(count(Level::Warn)) + " WARN, " + std::to_string(count(Level::Fail)) +
           " FAIL\n";
    return out;
}

namespace {

void writeCells(JsonWriter& json, const tavik::LoadDocumentReader::Row& row) {
    json.key("cells").beginObject();
    json.key("comment").value(row.comment);
    json.key("type").value(row.type);
    json.key("location").value(row.location);
    json.key("effective").value(row.effective);
    json.key("expires").value(row.expires);
    json.key("sequence").value(row.sequence);
    json.endObject();
}

void writeFinding(JsonWriter& json, const Finding& finding) {
    json.beginObject();
    json.key("level").value(levelName(finding.level));
    json.key("subject").value(finding.subject);
    json.key("text").value(finding.text);
    if (finding.row > 0) {
        json.key("row").value(finding.row);
        json.key("sequence").value(finding.sequence);
    }
    if (finding.cells)
        writeCells(json, *finding.cells);
    if (!finding.list.empty()) {
        json.key("list").value(finding.list);
        json.key("entry").value(finding.entry);
    }
    if (!finding.statement.empty())
        json.key("statement").value(finding.statement);
    if (finding.status)
        json.key("status").value(static_cast<long long>(*finding.status));
    if (finding.answer)
        json.key("answer").value(*finding.answer);
    json.endObject();
}

} // namespace

std::string Report::json(const RunInfo& run) const {
    JsonWriter json;
    json.beginObject();
    json.key("url").value(withoutPassword(run.url));
    json.key("vendor").value(run.vendor);
    json.key("scrn").value(run.scrn);
    json.key("podate").value(run.poDate);
    json.key("write").value(run.write);
    if (run.write)
        json.key("scratchVendor").value(run.scratchVendor);
    json.key("findings").beginArray();
    for (const Finding& finding : findings_)
        writeFinding(json, finding);
    json.endArray();
    json.key("summary").beginObject();
    json.key("pass").value(count(Level::Pass));
    json.key("warn").value(count(Level::Warn));
    json.key("fail").value(count(Level::Fail));
    json.endObject();
    json.key("passed").value(!failed());
    json.endObject();
    return json.str() + "\n";
}

} // namespace vccheck
