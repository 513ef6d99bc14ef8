#pragma once

// The type information of the TavikVendorComment library: what a host can learn about the
// class and its interfaces at run time (IDispatch::GetTypeInfo), and what the build writes
// out as an IDL text.

#include "Guid.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tavik {

using DispId = std::int32_t;
inline constexpr DispId DISPID_UNKNOWN = -1;

struct ParamInfo {
    std::string_view name;
    std::string_view idlType; // "BSTR*"
    bool in;
    bool out;
};

struct MemberInfo {
    std::string_view name;
    DispId dispId;
    std::span<const ParamInfo> params;
};

enum class InterfaceKind {
    Dual,         // a vtable interface that is also reachable through IDispatch
    DispatchOnly, // a dispinterface, only through IDispatch (the event interface)
};

struct InterfaceInfo {
    std::string_view name;
    Guid iid;
    InterfaceKind kind;
    bool hidden;
    bool nonExtensible;
    bool oleAutomation;
    std::span<const MemberInfo> members;
};

struct CoClassInfo {
    std::string_view name;
    Guid clsid;
    bool control;
    const InterfaceInfo* defaultInterface;
    const InterfaceInfo* defaultSource;
};

struct TypeLibraryInfo {
    std::string_view name;
    Guid libid;
    std::uint16_t majorVersion;
    std::uint16_t minorVersion;
    std::uint32_t lcid;
    bool control;
    std::string_view helpString;
    std::span<const CoClassInfo> classes;
    std::span<const InterfaceInfo* const> interfaces;
};

/// The library's type information; it lives as long as the program.
const TypeLibraryInfo& typeLibrary();

/// The type information as an IDL text.
std::string idlText(const TypeLibraryInfo& library);

} // namespace tavik
