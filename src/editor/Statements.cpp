#include "Statements.h"

namespace tavik {

namespace {

// A date as the statement carries it: the SQL null, or the text between apostrophes.
std::string DateValue(const std::string& dateText) {
    if (dateText.empty())
        return "Null";
    return " '" + dateText + "' ";
}

} // namespace

std::string CommentValue(std::string comment) {
    for (char& c : comment)
        if (c == '\'')
            c = '`';
    return comment;
}

std::string InsertStatement(const std::string& vendorID, std::int32_t typeCode,
                            std::int32_t locationCode, const std::string& effective,
                            const std::string& expires, const std::string& comment) {
    return " Declare @MaxID  int ; "
           " select @MaxId = (Select Max(CommentSequence) From VendorComment where VendorID = '" +
           vendorID + "'); " + " Set @MaxId = ISNull(@MaxID,0); " +
           " INSERT INTO VendorComment "
           "(VendorID,CommentSequence,Type,Location,Effective,Expires,Comment,RecordLastUpdated)"
           " VALUES " +
           " (" + vendorID + ", @MaxID + 1, " + std::to_string(typeCode) + ", " +
           std::to_string(locationCode) + ", " + DateValue(effective) + ",  " + DateValue(expires) +
           ", '" + CommentValue(comment) + "',  GETDATE())";
}

std::string UpdateStatement(const std::string& vendorID, std::int32_t typeCode,
                            std::int32_t locationCode, const std::string& effective,
                            const std::string& expires, const std::string& comment,
                            const std::string& sequence) {
    return "UPDATE VendorComment " + std::string(" SET Type = ") + std::to_string(typeCode) +
           ", Location= " + std::to_string(locationCode) + ", Effective= " + DateValue(effective) +
           ", Expires=  " + DateValue(expires) + ", Comment= '" + CommentValue(comment) + "'" +
           ", RecordLastUpdated = GETDATE() " + " WHERE vendorID = " + vendorID +
           " AND CommentSequence = " + sequence;
}

std::string DeleteStatement(const std::string& vendorID, const std::string& sequence) {
    return "DELETE FROM VendorComment Where vendorID = " + vendorID +
           " And CommentSequence = " + sequence;
}

} // namespace tavik
