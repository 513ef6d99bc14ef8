// The library's four entry points. Nothing may escape them as an exception: a host calls
// them through plain function pointers.

#include "Module.h"
#include "Registration.h"

#include <dlfcn.h>

#include <filesystem>

using namespace tavik;

namespace {

// The path this library was loaded from, made absolute; empty when unknown.
std::filesystem::path ownLibraryPath() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&DllRegisterServer), &info) || !info.dli_fname)
        return {};
    std::error_code error;
    auto path = std::filesystem::absolute(info.dli_fname, error);
    return error ? std::filesystem::path() : path.lexically_normal();
}

} // namespace

extern "C" HRESULT DllRegisterServer() {
    try {
        return shell::registerServer(ownLibraryPath());
    } catch (...) {
        return SELFREG_E_CLASS;
    }
}

extern "C" HRESULT DllUnregisterServer() {
    try {
        return shell::unregisterServer();
    } catch (...) {
        return SELFREG_E_CLASS;
    }
}

extern "C" HRESULT DllGetClassObject(const Guid* clsid, const Guid* iid, void** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (!clsid || !iid)
        return E_INVALIDARG;
    if (*clsid != CLSID_VendorComment)
        return CLASS_E_CLASSNOTAVAILABLE;
    return shell::vendorCommentFactory().QueryInterface(*iid, out);
}

extern "C" HRESULT DllCanUnloadNow() {
    return shell::moduleLocks() == 0 ? S_OK : S_FALSE;
}
