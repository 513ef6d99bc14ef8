#pragma once

#include <cstdint>
#include <string>

namespace tavik::platform {
class XmlDocument;
class XmlNode;
} // namespace tavik::platform

// The load document as the control reads it, apart from the widgets it fills, so that
// whatever else reads a page's document (a checker of server pages, a fuzz target) reads it
// exactly as the control does.
namespace tavik {

// The address of a vendor's load document under a server prefix.
std::string LoadDocumentURL(const std::string& serverName, const std::string& vendorID,
                            const std::string& scrn, const std::string& poDate);

// A lookup code: the leading number of the text, rounded to 32 bits; throws beyond.
std::int32_t LookupCode(const platform::XmlNode& node);

// What the reading finds, in document order.
class LoadDocumentReader {
public:
    enum class Lookup { Location, Type };
    // A comment row as the list shows it; `sequence` is the hidden key column.
    struct Row {
        std::string comment, type, location, effective, expires, sequence;
    };

    virtual ~LoadDocumentReader() = default;
    // An entry's name is listed before its code is read, so an unreadable code leaves
    // the name listed without one.
    virtual void lookupName(Lookup list, const std::string& name) = 0;
    virtual void lookupCode(Lookup list, std::int32_t code) = 0;
    virtual void commentRow(const Row& row) = 0;
};

// Reads one child of the root: LOC, TYP and GRID elements; other nodes are passed over.
// Throws where the control's load stops: a LOC or TYP with fewer than two children or a
// code out of range, a GRID with fewer than nine children.
void ReadLoadElement(const platform::XmlNode& element, LoadDocumentReader& reader);

// Reads the root's children in order; the first throw ends the reading.
void ReadLoadElements(const platform::XmlDocument& document, LoadDocumentReader& reader);

} // namespace tavik
