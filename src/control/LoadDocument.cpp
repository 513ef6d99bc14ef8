#include "LoadDocument.h"
#include "VendorComment.h"

#include "../common/Text.h"
#include "../gateway/StatementExchange.h"
#include "../platform/Locale.h"
#include "../platform/RuntimeError.h"
#include "../platform/XmlDocument.h"
#include "../platform/net/DocumentFetch.h"

#include <exception>

namespace tavik {

namespace {

// A query value as it may stand in a URL: bytes that would change the query's meaning or
// are not allowed in a URL are percent-encoded, so a vendor key "A&B" cannot load vendor A.
std::string QueryValue(const std::string& value) {
    return common::percentEncode(value, "-._~/:@!$'()*,;", false);
}

void ReadLookupEntry(LoadDocumentReader::Lookup list, const platform::XmlNode& element,
                     LoadDocumentReader& reader) {
    const platform::XmlNodeList childNodes = element.childNodes();
    reader.lookupName(list, childNodes[1].text());
    reader.lookupCode(list, LookupCode(childNodes[0]));
}

// Fills the two lookup lists and the comment list.
class FormFiller final : public LoadDocumentReader {
public:
    FormFiller(platform::ComboBox& location, platform::ComboBox& type, platform::ListView& list)
        : location_(location), type_(type), list_(list) {}

    void lookupName(Lookup list, const std::string& name) override { combo(list).addItem(name); }
    void lookupCode(Lookup list, std::int32_t code) override {
        platform::ComboBox& box = combo(list);
        box.setItemData(box.newIndex(), code);
    }
    void commentRow(const Row& row) override {
        const int index = list_.addItem(row.comment);
        list_.setSubItem(index, 1, row.type);
        list_.setSubItem(index, 2, row.location);
        list_.setSubItem(index, 3, row.effective);
        list_.setSubItem(index, 4, row.expires);
        list_.setSubItem(index, 5, row.sequence);
    }

private:
    platform::ComboBox& combo(Lookup list) { return list == Lookup::Location ? location_ : type_; }
    platform::ComboBox& location_;
    platform::ComboBox& type_;
    platform::ListView& list_;
};

} // namespace

std::string LoadDocumentURL(const std::string& serverName, const std::string& vendorID,
                            const std::string& scrn, const std::string& poDate) {
    const std::string page = PageURL(serverName);
    return page + (page.find('?') == std::string::npos ? "?" : "&") +
           "Vendor=" + QueryValue(vendorID) + "&SCRN=" + QueryValue(scrn) +
           "&PODate=" + QueryValue(poDate);
}

std::int32_t LookupCode(const platform::XmlNode& node) {
    return platform::CLng(platform::Val(node.text()));
}

void ReadLoadElement(const platform::XmlNode& element, LoadDocumentReader& reader) {
    const std::string name = element.nodeName();
    if (name == "LOC") {
        ReadLookupEntry(LoadDocumentReader::Lookup::Location, element, reader);
    } else if (name == "TYP") {
        ReadLookupEntry(LoadDocumentReader::Lookup::Type, element, reader);
    } else if (name == "GRID") {
        // The children are read by position, fetched once; the last is read first, so a
        // short row throws before anything of it is shown.
        const platform::XmlNodeList childNodes = element.childNodes();
        LoadDocumentReader::Row row;
        row.comment = childNodes[8].text();
        row.type = childNodes[3].text();
        row.location = childNodes[5].text();
        row.effective = childNodes[6].text();
        row.expires = childNodes[7].text();
        row.sequence = childNodes[1].text();
        reader.commentRow(row);
    }
}

void ReadLoadElements(const platform::XmlDocument& document, LoadDocumentReader& reader) {
    for (const platform::XmlNode& node : document.documentElement().childNodes())
        ReadLoadElement(node, reader);
}

namespace {

// Why a root child stopped the load, in the document's terms rather than the runtime's.
std::string ElementFault(const platform::XmlNode& element, std::size_t position,
                         const std::exception& error) {
    const std::string name = element.nodeName();
    const std::size_t needed = name == "GRID" ? 9 : 2;
    const std::size_t children = element.childNodes().size();
    const std::string where =
        name + " element at position " + std::to_string(position) + " of the root";
    if (children < needed)
        return "the " + where + " has " + std::to_string(children) + " children; it needs " +
               std::to_string(needed);
    if (name == "LOC" || name == "TYP")
        return "the code \"" + element.childNodes()[0].text() + "\" of the " + where +
               " is beyond the 32-bit range";
    return "the " + where + " could not be shown: " + error.what();
}

} // namespace

// Reads the fetched load document and fills the two lookup lists and the comment list from
// it, element by element in document order.
void VendorComment::ReadLoadDocument(platform::FetchedDocument fetched) {
    platform::XmlDocument objDoc;
    // Without a document there is no root element to read, and the load ends here.
    if (!objDoc.load(std::move(fetched)))
        throw platform::RuntimeError(objDoc.failure());
    FormFiller filler(cboLocation, cboType, lstComments);
    std::size_t position = 0;
    for (const platform::XmlNode& node : objDoc.documentElement().childNodes()) {
        try {
            ReadLoadElement(node, filler);
        } catch (const platform::RuntimeError& error) {
            throw platform::RuntimeError(ElementFault(node, position, error));
        }
        ++position;
    }
}

} // namespace tavik
