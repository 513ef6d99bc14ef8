#pragma once

/**
 * @file TypeInfo.h
 * The type information of the TavikVendorComment library: what a host can learn about the
 * class and its interfaces at run time (IDispatch::GetTypeInfo), and what the build writes
 * out as an IDL text.
 */

#include "Guid.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tavik {

/// A member's dispatch id, the number IDispatch::Invoke calls it by.
using DispId = std::int32_t;
/// The dispatch id of a name that is not known.
inline constexpr DispId DISPID_UNKNOWN = -1;

/// One parameter of a method.
struct ParamInfo {
    std::string_view name;    ///< its name in the IDL text
    std::string_view idlType; ///< its IDL type, such as "BSTR*"
    bool in;                  ///< whether the caller passes a value in
    bool out;                 ///< whether the method passes a value back
};

/// One method of an interface.
struct MemberInfo {
    std::string_view name;             ///< its name
    DispId dispId;                     ///< its dispatch id
    std::span<const ParamInfo> params; ///< its parameters in declaration order
};

/// How an interface is reached.
enum class InterfaceKind {
    Dual,         ///< a vtable interface that is also reachable through IDispatch
    DispatchOnly, ///< a dispinterface, only through IDispatch (the event interface)
};

/// One interface of the type library.
struct InterfaceInfo {
    std::string_view name;               ///< its name, such as "_VendorComment"
    Guid iid;                            ///< its identifier
    InterfaceKind kind;                  ///< dual or dispatch only
    bool hidden;                         ///< hidden from object browsers
    bool nonExtensible;                  ///< no members beyond those listed at run time
    bool oleAutomation;                  ///< only automation-compatible types
    std::span<const MemberInfo> members; ///< its methods
};

/// One class of the type library.
struct CoClassInfo {
    std::string_view name;                 ///< its name, such as "VendorComment"
    Guid clsid;                            ///< its class identifier
    bool control;                          ///< whether it is a control a container places
    const InterfaceInfo* defaultInterface; ///< the interface hosts call
    const InterfaceInfo* defaultSource;    ///< the interface its events come through
};

/// The whole type library.
struct TypeLibraryInfo {
    std::string_view name;                            ///< its name
    Guid libid;                                       ///< its identifier
    std::uint16_t majorVersion;                       ///< its major version
    std::uint16_t minorVersion;                       ///< its minor version
    std::uint32_t lcid;                               ///< its locale, 0x409 (US English)
    bool control;                                     ///< whether it describes a control
    std::string_view helpString;                      ///< the text object browsers show
    std::span<const CoClassInfo> classes;             ///< its classes
    std::span<const InterfaceInfo* const> interfaces; ///< its interfaces
};

/// The library's type information; it lives as long as the program.
const TypeLibraryInfo& typeLibrary();

/// The type information as an IDL text.
std::string idlText(const TypeLibraryInfo& library);

} // namespace tavik
