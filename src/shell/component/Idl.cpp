#include "TypeInfo.h"

#include <cstdio>
#include <sstream>
#include <vector>

namespace tavik {
namespace {

std::string hex(std::uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, static_cast<unsigned>(value));
    return text;
}

// IDL writes the identifier without braces.
std::string uuid(const Guid& guid) {
    const std::string text = toString(guid);
    return text.substr(1, text.size() - 2);
}

void writeAttributes(std::ostringstream& out, const std::string& indent,
                     const std::vector<std::string>& attributes) {
    out << indent << "[\n";
    for (std::size_t i = 0; i < attributes.size(); ++i)
        out << indent << "  " << attributes[i] << (i + 1 < attributes.size() ? ",\n" : "\n");
    out << indent << "]\n";
}

void writeDualInterface(std::ostringstream& out, const InterfaceInfo& info) {
    std::vector<std::string> attributes{"odl", "uuid(" + uuid(info.iid) + ")"};
    if (info.hidden)
        attributes.emplace_back("hidden");
    attributes.emplace_back("dual");
    if (info.nonExtensible)
        attributes.emplace_back("nonextensible");
    if (info.oleAutomation)
        attributes.emplace_back("oleautomation");
    writeAttributes(out, "    ", attributes);
    out << "    interface " << info.name << " : IDispatch {\n";
    for (const MemberInfo& member : info.members) {
        out << "        [id(" << hex(static_cast<std::uint32_t>(member.dispId), 8) << ")]\n";
        out << "        HRESULT " << member.name << "(";
        for (std::size_t i = 0; i < member.params.size(); ++i) {
            const ParamInfo& param = member.params[i];
            out << "\n            [" << (param.in ? "in" : "")
                << (param.in && param.out ? ", " : "") << (param.out ? "out" : "") << "] "
                << param.idlType << " " << param.name << (i + 1 < member.params.size() ? "," : "");
        }
        out << ");\n";
    }
    out << "    };\n";
}

void writeDispInterface(std::ostringstream& out, const InterfaceInfo& info) {
    std::vector<std::string> attributes{"uuid(" + uuid(info.iid) + ")"};
    if (info.hidden)
        attributes.emplace_back("hidden");
    if (info.nonExtensible)
        attributes.emplace_back("nonextensible");
    writeAttributes(out, "    ", attributes);
    out << "    dispinterface " << info.name << " {\n";
    out << "        properties:\n";
    out << "        methods:\n";
    for (const MemberInfo& member : info.members) {
        out << "            [id(" << hex(static_cast<std::uint32_t>(member.dispId), 8) << ")] void "
            << member.name << "(";
        for (std::size_t i = 0; i < member.params.size(); ++i)
            out << (i ? ", " : "") << member.params[i].idlType << " " << member.params[i].name;
        out << ");\n";
    }
    out << "    };\n";
}

std::string_view keyword(const InterfaceInfo& info) {
    return info.kind == InterfaceKind::Dual ? "interface" : "dispinterface";
}

} // namespace

std::string idlText(const TypeLibraryInfo& library) {
    std::ostringstream out;
    out << "// " << library.name << ".idl: the type information of the " << library.name
        << " control library.\n"
        << "// Written by the build from the library's own type information; do not edit.\n\n";

    std::vector<std::string> attributes{"uuid(" + uuid(library.libid) + ")",
                                        "version(" + std::to_string(library.majorVersion) + "." +
                                            std::to_string(library.minorVersion) + ")",
                                        "lcid(" + hex(library.lcid, 4) + ")",
                                        "helpstring(\"" + std::string(library.helpString) + "\")"};
    if (library.control)
        attributes.emplace_back("control");
    writeAttributes(out, "", attributes);
    out << "library " << library.name << "\n{\n";
    out << "    importlib(\"stdole2.tlb\");\n\n";

    // Forward declarations let the class name its interfaces before they are defined.
    for (const InterfaceInfo* info : library.interfaces)
        out << "    " << keyword(*info) << " " << info->name << ";\n";

    for (const InterfaceInfo* info : library.interfaces) {
        if (info->kind != InterfaceKind::Dual)
            continue;
        out << "\n";
        writeDualInterface(out, *info);
    }

    for (const CoClassInfo& coclass : library.classes) {
        out << "\n";
        std::vector<std::string> classAttributes{"uuid(" + uuid(coclass.clsid) + ")"};
        if (coclass.control)
            classAttributes.emplace_back("control");
        writeAttributes(out, "    ", classAttributes);
        out << "    coclass " << coclass.name << " {\n";
        if (coclass.defaultInterface)
            out << "        [default] " << keyword(*coclass.defaultInterface) << " "
                << coclass.defaultInterface->name << ";\n";
        if (coclass.defaultSource)
            out << "        [default, source] " << keyword(*coclass.defaultSource) << " "
                << coclass.defaultSource->name << ";\n";
        out << "    };\n";
    }

    for (const InterfaceInfo* info : library.interfaces) {
        if (info->kind != InterfaceKind::DispatchOnly)
            continue;
        out << "\n";
        writeDispInterface(out, *info);
    }
    out << "};\n";
    return out.str();
}

} // namespace tavik
