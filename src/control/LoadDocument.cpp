#include "VendorComment.h"

#include "../platform/Locale.h"
#include "../platform/RuntimeError.h"
#include "../platform/Text.h"
#include "../platform/XmlDocument.h"

namespace tavik {

namespace {

// A query value as it may stand in a URL: bytes that would change the query's meaning or
// are not allowed in a URL are percent-encoded, so a vendor key "A&B" cannot load vendor A.
std::string QueryValue(const std::string& value) {
    return platform::percentEncode(value, "-._~/:@!$'()*,;", false);
}

// A lookup code: the leading number of the text, rounded to 32 bits (throws beyond).
std::int32_t LookupCode(const platform::XmlNode& node) {
    return platform::CLng(platform::Val(node.text()));
}

void AddLookupEntry(platform::ComboBox& combo, const platform::XmlNode& element) {
    const platform::XmlNodeList childNodes = element.childNodes();
    combo.addItem(childNodes[1].text());
    const int index = combo.newIndex();
    combo.setItemData(index, LookupCode(childNodes[0]));
}

} // namespace

// Fetches the load document and fills the two lookup lists and the comment list from it,
// element by element in document order.
void VendorComment::ReadLoadDocument() {
    platform::XmlDocument objDoc;
    // Without a document there is no root element to read, and the load ends here.
    if (!objDoc.load(mstrServerName + "VendorCommentLOAD.asp?Vendor=" + QueryValue(mstrVendorID) +
                     "&SCRN=" + QueryValue(mstrSCRN) + "&PODate=" + QueryValue(mstrPODate)))
        throw platform::RuntimeError(objDoc.failure());

    for (const platform::XmlNode& node : objDoc.documentElement().childNodes()) {
        const std::string name = node.nodeName();
        if (name == "LOC") {
            AddLookupEntry(cboLocation, node);
        } else if (name == "TYP") {
            AddLookupEntry(cboType, node);
        } else if (name == "GRID") {
            // The children are read by position, fetched once.
            const platform::XmlNodeList childNodes = node.childNodes();
            const int row = lstComments.addItem(childNodes[8].text());
            lstComments.setSubItem(row, 1, childNodes[3].text());
            lstComments.setSubItem(row, 2, childNodes[5].text());
            lstComments.setSubItem(row, 3, childNodes[6].text());
            lstComments.setSubItem(row, 4, childNodes[7].text());
            lstComments.setSubItem(row, 5, childNodes[1].text());
        }
    }
}

} // namespace tavik
