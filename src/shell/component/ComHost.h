#pragma once

/**
 * @file ComHost.h
 * The host side: finding a registered class through the registry, loading its library and
 * creating objects, as a host that knows only a program id does. Link the
 * TavikVendorCommentHost library, not the control library: the control library is loaded
 * from the path its registration names.
 *
 * Loaded libraries stay loaded for the life of the process: Qt keeps pointers into a
 * widget library (meta-objects, resources) that unloading would leave dangling.
 */

#include "TavikVendorComment.h"

#include <string>
#include <string_view>

namespace tavik {

/// The class a program id names. REGDB_E_CLASSNOTREG when it is not registered or not well
/// formed.
HRESULT CLSIDFromProgID(std::string_view progId, Guid* clsid);

/// The class factory (or another interface of the class object) of a registered class.
/// REGDB_E_CLASSNOTREG: the class is not registered; CO_E_DLLNOTFOUND: its library file is
/// gone; CO_E_ERRORINDLL: the file is not a loadable library or lacks DllGetClassObject.
HRESULT CoGetClassObject(const Guid& clsid, const Guid& iid, void** out);

/// A new object of a registered class, answered as interface iid.
HRESULT CoCreateInstance(const Guid& clsid, const Guid& iid, void** out);

/// The same, with the class found from its program id.
HRESULT CoCreateInstanceByProgId(std::string_view progId, const Guid& iid, void** out);

/// Loads a library and calls its DllRegisterServer, as a registration tool does.
/// CO_E_DLLNOTFOUND or CO_E_ERRORINDLL when it cannot.
HRESULT RegisterServer(const std::string& libraryPath);
/// The same with its DllUnregisterServer.
HRESULT UnregisterServer(const std::string& libraryPath);

/// Why the last library load on this thread failed (the loader's message), for people.
std::string lastLoadError();

/// A short text for a result code: its name when it is one we know, and its value.
std::string resultText(HRESULT hr);

} // namespace tavik
