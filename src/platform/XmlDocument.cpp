#include "XmlDocument.h"
#include "RuntimeError.h"
// placeholder: implemented by the XML document work
namespace platform {
struct XmlDocument::Impl {};
std::string XmlNode::nodeName() const { return {}; }
std::vector<XmlNode> XmlNode::childNodes() const { return {}; }
XmlNode XmlNode::item(int) const { throw RuntimeError("not implemented"); }
std::string XmlNode::text() const { return {}; }
XmlDocument::XmlDocument() = default;
XmlDocument::~XmlDocument() = default;
bool XmlDocument::load(const std::string&) { return false; }
bool XmlDocument::loadXml(const std::string&) { return false; }
XmlNode XmlDocument::documentElement() const { throw RuntimeError("not implemented"); }
} // namespace platform
