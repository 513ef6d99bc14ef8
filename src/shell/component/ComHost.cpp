#include "ComHost.h"

#include "Registry.h"

#include <dlfcn.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <utility>

namespace tavik {
namespace {

thread_local std::string loadError;

std::string value(const registry::Entry& entry, const std::string& key) {
    const auto it = entry.find(key);
    return it == entry.end() ? std::string() : it->second;
}

// Loads a library file. The handle is kept for the life of the process (see ComHost.h);
// loading the same file again only finds the library already loaded.
HRESULT loadLibrary(const std::string& path, void** handle) {
    std::error_code error;
    loadError.clear();
    if (path.empty() || !std::filesystem::is_regular_file(path, error)) {
        loadError = (path.empty() ? std::string("no library named") : path) + ": no such file";
        return CO_E_DLLNOTFOUND;
    }
    *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!*handle) {
        const char* reason = dlerror();
        loadError = reason ? reason : path + ": cannot be loaded";
        return CO_E_ERRORINDLL;
    }
    return S_OK;
}

template <class Function>
HRESULT entryPoint(const std::string& path, const char* name, Function* function) {
    void* handle = nullptr;
    if (const HRESULT hr = loadLibrary(path, &handle); FAILED(hr))
        return hr;
    *function = reinterpret_cast<Function>(dlsym(handle, name));
    if (!*function) {
        loadError = path + ": no entry point " + name;
        return CO_E_ERRORINDLL;
    }
    return S_OK;
}

template <class Function> HRESULT callRegistration(const std::string& path, const char* name) {
    Function function = nullptr;
    if (const HRESULT hr = entryPoint(path, name, &function); FAILED(hr))
        return hr;
    return function();
}

} // namespace

HRESULT CLSIDFromProgID(std::string_view progId, Guid* clsid) {
    if (!clsid)
        return E_POINTER;
    const auto file = registry::progIdFile(progId);
    if (file.empty())
        return REGDB_E_CLASSNOTREG;
    const auto entry = registry::readEntry(file);
    if (!entry || !parseGuid(value(*entry, "ProgID/CLSID"), clsid))
        return REGDB_E_CLASSNOTREG;
    return S_OK;
}

HRESULT CoGetClassObject(const Guid& clsid, const Guid& iid, void** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    const auto entry = registry::readEntry(registry::classFile(clsid));
    if (!entry)
        return REGDB_E_CLASSNOTREG;
    DllGetClassObjectFn getClassObject = nullptr;
    if (const HRESULT hr =
            entryPoint(value(*entry, "Class/Library"), "DllGetClassObject", &getClassObject);
        FAILED(hr))
        return hr;
    return getClassObject(&clsid, &iid, out);
}

HRESULT CoCreateInstance(const Guid& clsid, const Guid& iid, void** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    ComPtr<IClassFactory> factory;
    if (const HRESULT hr = CoGetClassObject(clsid, IID_IClassFactory, factory.put()); FAILED(hr))
        return hr;
    return factory->CreateInstance(nullptr, iid, out);
}

HRESULT CoCreateInstanceByProgId(std::string_view progId, const Guid& iid, void** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    Guid clsid{};
    if (const HRESULT hr = CLSIDFromProgID(progId, &clsid); FAILED(hr))
        return hr;
    return CoCreateInstance(clsid, iid, out);
}

HRESULT RegisterServer(const std::string& libraryPath) {
    return callRegistration<DllRegisterServerFn>(libraryPath, "DllRegisterServer");
}

HRESULT UnregisterServer(const std::string& libraryPath) {
    return callRegistration<DllUnregisterServerFn>(libraryPath, "DllUnregisterServer");
}

std::string lastLoadError() {
    return loadError;
}

std::string resultText(HRESULT hr) {
    static constexpr std::array<std::pair<HRESULT, const char*>, 22> names{{
        {S_OK, "S_OK"},
        {S_FALSE, "S_FALSE"},
        {E_UNEXPECTED, "E_UNEXPECTED"},
        {E_NOTIMPL, "E_NOTIMPL"},
        {E_NOINTERFACE, "E_NOINTERFACE"},
        {E_POINTER, "E_POINTER"},
        {E_FAIL, "E_FAIL"},
        {E_OUTOFMEMORY, "E_OUTOFMEMORY"},
        {E_INVALIDARG, "E_INVALIDARG"},
        {CLASS_E_NOAGGREGATION, "CLASS_E_NOAGGREGATION"},
        {CLASS_E_CLASSNOTAVAILABLE, "CLASS_E_CLASSNOTAVAILABLE"},
        {REGDB_E_CLASSNOTREG, "REGDB_E_CLASSNOTREG"},
        {SELFREG_E_TYPELIB, "SELFREG_E_TYPELIB"},
        {SELFREG_E_CLASS, "SELFREG_E_CLASS"},
        {DISP_E_MEMBERNOTFOUND, "DISP_E_MEMBERNOTFOUND"},
        {DISP_E_TYPEMISMATCH, "DISP_E_TYPEMISMATCH"},
        {DISP_E_UNKNOWNNAME, "DISP_E_UNKNOWNNAME"},
        {DISP_E_BADPARAMCOUNT, "DISP_E_BADPARAMCOUNT"},
        {CO_E_NOTINITIALIZED, "CO_E_NOTINITIALIZED"},
        {CO_E_DLLNOTFOUND, "CO_E_DLLNOTFOUND"},
        {CO_E_ERRORINDLL, "CO_E_ERRORINDLL"},
        {RPC_E_WRONG_THREAD, "RPC_E_WRONG_THREAD"},
    }};
    char number[16];
    std::snprintf(number, sizeof number, "0x%08X", static_cast<unsigned>(hr));
    for (const auto& [code, name] : names)
        if (code == hr)
            return std::string(name) + " (" + number + ")";
    return number;
}

} // namespace tavik
