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
    combo.addItem(element.item(1).text());
    const int index = combo.newIndex();
    combo.setItemData(index, LookupCode(element.item(0)));
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
            const int row = lstComments.addItem(node.item(8).text());
            lstComments.setSubItem(row, 1, node.item(3).text());
            lstComments.setSubItem(row, 2, node.item(5).text());
            lstComments.setSubItem(row, 3, node.item(6).text());
            lstComments.setSubItem(row, 4, node.item(7).text());
            lstComments.setSubItem(row, 5, node.item(1).text());
        }
    }
}

} // namespace tavik
