#include "TavikVendorComment.h"
#include "TypeInfo.h"

#include <array>

namespace tavik {
namespace {

// Each parameter is a string passed by reference, in and out.
constexpr std::array loadDataParams = {
    ParamInfo{"ptServerName", "BSTR*", true, true}, ParamInfo{"ptVendorID", "BSTR*", true, true},
    ParamInfo{"ptMode", "BSTR*", true, true},       ParamInfo{"ptSCRN", "BSTR*", true, true},
    ParamInfo{"ptPODate", "BSTR*", true, true},     ParamInfo{"ptServerDate", "BSTR*", true, true},
};

constexpr std::array vendorCommentMembers = {
    MemberInfo{"LoadData", DISPID_LoadData, loadDataParams},
};

constexpr InterfaceInfo vendorCommentInterface{
    .name = "_VendorComment",
    .iid = IID_VendorComment,
    .kind = InterfaceKind::Dual,
    .hidden = true,
    .nonExtensible = true,
    .oleAutomation = true,
    .members = vendorCommentMembers,
};

// The control raises no events, so its source interface is empty.
constexpr InterfaceInfo vendorCommentEvents{
    .name = "__VendorComment",
    .iid = DIID_VendorCommentEvents,
    .kind = InterfaceKind::DispatchOnly,
    .hidden = true,
    .nonExtensible = true,
    .oleAutomation = false,
    .members = {},
};

constexpr std::array classes = {
    CoClassInfo{
        .name = "VendorComment",
        .clsid = CLSID_VendorComment,
        .control = true,
        .defaultInterface = &vendorCommentInterface,
        .defaultSource = &vendorCommentEvents,
    },
};

constexpr std::array<const InterfaceInfo*, 2> interfaces = {&vendorCommentInterface,
                                                            &vendorCommentEvents};

constexpr TypeLibraryInfo library{
    .name = "TavikVendorComment",
    .libid = LIBID_TavikVendorComment,
    .majorVersion = 3,
    .minorVersion = 0,
    .lcid = 0x409,
    .control = true,
    .helpString = "TavikVendorComment",
    .classes = classes,
    .interfaces = interfaces,
};

} // namespace

const TypeLibraryInfo& typeLibrary() {
    return library;
}

} // namespace tavik
