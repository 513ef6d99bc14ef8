#include "Registration.h"

#include "Registry.h"

#include <cstdio>

namespace tavik::shell {
namespace {

constexpr std::uint32_t miscStatus = OLEMISC_SETCLIENTSITEFIRST | OLEMISC_ACTIVATEWHENVISIBLE |
                                     OLEMISC_INSIDEOUT | OLEMISC_CANTLINKINSIDE |
                                     OLEMISC_RECOMPOSEONRESIZE;
static_assert(miscStatus == 0x00020191);

// The language of the version resource: US English, with the Unicode code page.
constexpr char versionLanguage[] = "0x0409";
constexpr char versionCodePage[] = "1200";

constexpr char toolboxBitmapId[] = "30000";

std::string hex(std::uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, static_cast<unsigned>(value));
    return text;
}

std::string typeLibVersion(const TypeLibraryInfo& library) {
    return std::to_string(library.majorVersion) + "." + std::to_string(library.minorVersion);
}

registry::Entry classEntry(const TypeLibraryInfo& library, const CoClassInfo& coclass,
                           const std::string& path) {
    const std::string libraryName(library.name);
    return {
        {"Class/Name", std::string(coclass.name)},
        {"Class/ProgID", ProgID_VendorComment},
        {"Class/Library", path},
        {"Class/ThreadingModel", "Apartment"},
        {"Class/Control", coclass.control ? "true" : "false"},
        {"Class/MiscStatus", hex(miscStatus, 8)},
        {"Class/ToolboxBitmap", path + "," + toolboxBitmapId},
        {"Class/ToolboxBitmapResource", ToolboxBitmapResource},
        {"Class/ToolboxBitmapSize", "16x15"},
        {"Class/ToolboxBitmapColours", "16"},
        {"Class/TypeLib", toString(library.libid)},
        {"Class/TypeLibVersion", typeLibVersion(library)},
        {"Version/FileVersion", fileVersion()},
        {"Version/ProductVersion", fileVersion()},
        {"Version/DisplayVersion", displayVersion()},
        {"Version/ProductName", libraryName},
        {"Version/InternalName", libraryName},
        {"Version/OriginalFilename", "lib" + libraryName + ".so"},
        {"Version/Language", versionLanguage},
        {"Version/CodePage", versionCodePage},
        {"Version/OLESelfRegister", "true"},
    };
}

registry::Entry typeLibEntry(const TypeLibraryInfo& library, const std::string& path) {
    return {
        {"TypeLib/Name", std::string(library.name)},
        {"TypeLib/Version", typeLibVersion(library)},
        {"TypeLib/Locale", hex(library.lcid, 3)},
        {"TypeLib/HelpString", std::string(library.helpString)},
        {"TypeLib/Flags", library.control ? "control" : ""},
        {"TypeLib/Library", path},
    };
}

registry::Entry interfaceEntry(const TypeLibraryInfo& library, const InterfaceInfo& info) {
    return {
        {"Interface/Name", std::string(info.name)},
        {"Interface/Kind", info.kind == InterfaceKind::Dual ? "dual" : "dispinterface"},
        {"Interface/TypeLib", toString(library.libid)},
        {"Interface/TypeLibVersion", typeLibVersion(library)},
    };
}

std::string entryValue(const std::filesystem::path& file, const std::string& key) {
    const auto entry = registry::readEntry(file);
    if (!entry)
        return {};
    const auto it = entry->find(key);
    return it == entry->end() ? std::string() : it->second;
}

bool present(const std::filesystem::path& file) {
    std::error_code error;
    return std::filesystem::exists(file, error);
}

} // namespace

// The version resource's four numbers; its third, the build, is always 0.
std::string fileVersion() {
    return std::to_string(VENDORCOMMENT_VERSION_MAJOR) + "." +
           std::to_string(VENDORCOMMENT_VERSION_MINOR) + ".0." +
           std::to_string(VENDORCOMMENT_VERSION_REVISION);
}

std::string displayVersion() {
    char text[32];
    std::snprintf(text, sizeof text, "%d.%02d.%04d", VENDORCOMMENT_VERSION_MAJOR,
                  VENDORCOMMENT_VERSION_MINOR, VENDORCOMMENT_VERSION_REVISION);
    return text;
}

HRESULT registerServer(const std::filesystem::path& libraryPath) {
    if (libraryPath.empty())
        return SELFREG_E_CLASS;
    const std::string path = libraryPath.string();
    const TypeLibraryInfo& library = typeLibrary();

    // The program id goes last, so a host never finds it before the class it names.
    std::vector<std::pair<std::filesystem::path, registry::Entry>> entries;
    entries.emplace_back(registry::typeLibFile(library.libid), typeLibEntry(library, path));
    for (const InterfaceInfo* info : library.interfaces)
        entries.emplace_back(registry::interfaceFile(info->iid), interfaceEntry(library, *info));
    for (const CoClassInfo& coclass : library.classes)
        entries.emplace_back(registry::classFile(coclass.clsid),
                             classEntry(library, coclass, path));
    entries.emplace_back(registry::progIdFile(ProgID_VendorComment),
                         registry::Entry{{"ProgID/Name", "VendorComment"},
                                         {"ProgID/CLSID", toString(CLSID_VendorComment)}});
    return registry::writeEntries(entries) ? S_OK : SELFREG_E_CLASS;
}

HRESULT unregisterServer() {
    const TypeLibraryInfo& library = typeLibrary();
    const std::string libid = toString(library.libid);

    // The program id goes first, so it never names a class that is already gone.
    std::vector<std::filesystem::path> files;
    const auto progId = registry::progIdFile(ProgID_VendorComment);
    if (entryValue(progId, "ProgID/CLSID") == toString(CLSID_VendorComment))
        files.push_back(progId);
    for (const CoClassInfo& coclass : library.classes)
        if (present(registry::classFile(coclass.clsid)))
            files.push_back(registry::classFile(coclass.clsid));
    for (const InterfaceInfo* info : library.interfaces)
        if (entryValue(registry::interfaceFile(info->iid), "Interface/TypeLib") == libid)
            files.push_back(registry::interfaceFile(info->iid));
    if (present(registry::typeLibFile(library.libid)))
        files.push_back(registry::typeLibFile(library.libid));

    if (files.empty())
        return S_FALSE;
    return registry::removeEntries(files) ? S_OK : SELFREG_E_CLASS;
}

} // namespace tavik::shell
