#pragma once

// The registration data of the library and the work behind DllRegisterServer and
// DllUnregisterServer.

#include "TavikVendorComment.h"

#include <filesystem>
#include <string>

namespace tavik::shell {

// The file and product version, "2.0.0.6".
std::string fileVersion();
// The same as hosts show it: major, two-digit minor, four-digit revision ("2.00.0006").
std::string displayVersion();

// Writes the class, program id, type library and interface entries naming the library at
// libraryPath. Registering again replaces the entries. SELFREG_E_CLASS when they cannot be
// written; then none of them has changed.
HRESULT registerServer(const std::filesystem::path& libraryPath);

// Removes the entries of this library. Entries that belong to other classes stay, even a
// program id of ours that now names another class. S_FALSE when there was nothing to remove.
HRESULT unregisterServer();

} // namespace tavik::shell
