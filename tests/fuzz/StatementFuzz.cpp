// The server's form body and statement reader on arbitrary bodies: a statement is either
// refused with one line or read into one of the three shapes, and a statement read and
// written back in the page's grammar reads back to the same.

#include "statement/FormBody.h"
#include "statement/Statement.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace vcserver;

namespace {

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text)
        out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
}

std::string date(const std::optional<CalendarDate>& value) {
    return value ? "'" + shortDate(*value) + "'" : "Null";
}

std::string fields(const CommentFields& f) {
    return "Type = " + std::to_string(f.type) + ", Location = " + std::to_string(f.location) +
           ", Effective = " + date(f.effective) + ", Expires = " + date(f.expires) +
           ", Comment = " + quoted(f.comment) + ", RecordLastUpdated = GETDATE()";
}

// The statement in the page's grammar, as plainly as it allows.
std::string written(const Statement& statement) {
    if (const auto* insert = std::get_if<InsertComment>(&statement)) {
        const CommentFields& f = insert->fields;
        return "Declare @MaxID int; select @MaxId = (Select Max(CommentSequence) From "
               "VendorComment where VendorID = '" +
               insert->vendor +
               "'); Set @MaxId = ISNull(@MaxID,0); INSERT INTO VendorComment "
               "(VendorID,CommentSequence,Type,Location,Effective,Expires,Comment,"
               "RecordLastUpdated) VALUES (" +
               insert->vendor + ", @MaxID + 1, " + std::to_string(f.type) + ", " +
               std::to_string(f.location) + ", " + date(f.effective) + ", " + date(f.expires) +
               ", " + quoted(f.comment) + ", GETDATE())";
    }
    if (const auto* update = std::get_if<UpdateComment>(&statement))
        return "UPDATE VendorComment SET " + fields(update->fields) +
               " WHERE vendorID = " + update->vendor +
               " AND CommentSequence = " + std::to_string(update->sequence);
    const auto& remove = std::get<DeleteComment>(statement);
    return "DELETE FROM VendorComment Where vendorID = " + remove.vendor +
           " And CommentSequence = " + std::to_string(remove.sequence);
}

bool same(const CommentFields& a, const CommentFields& b) {
    return a.type == b.type && a.location == b.location && a.effective == b.effective &&
           a.expires == b.expires && a.comment == b.comment;
}

bool same(const Statement& a, const Statement& b) {
    if (a.index() != b.index())
        return false;
    if (const auto* x = std::get_if<InsertComment>(&a)) {
        const auto& y = std::get<InsertComment>(b);
        return x->vendor == y.vendor && same(x->fields, y.fields);
    }
    if (const auto* x = std::get_if<UpdateComment>(&a)) {
        const auto& y = std::get<UpdateComment>(b);
        return x->vendor == y.vendor && x->sequence == y.sequence && same(x->fields, y.fields);
    }
    const auto& x = std::get<DeleteComment>(a);
    const auto& y = std::get<DeleteComment>(b);
    return x.vendor == y.vendor && x.sequence == y.sequence;
}

bool oneLine(const std::string& text) {
    return !text.empty() && text.find('\n') == std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    const SqlField field = sqlFieldOf(body);
    if (!field.statement) {
        if (!oneLine(field.error))
            std::abort();
        return 0;
    }
    const ParsedStatement parsed = parseStatement(*field.statement);
    if (!parsed.statement) {
        if (!oneLine(parsed.error))
            std::abort();
        return 0;
    }
    const ParsedStatement again = parseStatement(written(*parsed.statement));
    if (!again.statement || !same(*parsed.statement, *again.statement))
        std::abort();
    return 0;
}
