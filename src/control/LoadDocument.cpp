#include "LoadDocument.h"
#include "VendorComment.h"

#include "../common/Text.h"
#include "../platform/Locale.h"
#include "../platform/RuntimeError.h"
#include "../platform/XmlDocument.h"

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
    return serverName + "VendorCommentLOAD.asp?Vendor=" + QueryValue(vendorID) +
           "&SCRN=" + QueryValue(scrn) + "&PODate=" + QueryValue(poDate);
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

// Fetches the load document and fills the two lookup lists and the comment list from it,
// element by element in document order.
void VendorComment::ReadLoadDocument() {
    platform::XmlDocument objDoc;
    // Without a document there is no root element to read, and the load ends here.
    if (!objDoc.load(LoadDocumentURL(mstrServerName, mstrVendorID, mstrSCRN, mstrPODate)))
        throw platform::RuntimeError(objDoc.failure());
    FormFiller filler(cboLocation, cboType, lstComments);
    ReadLoadElements(objDoc, filler);
}

} // namespace tavik
