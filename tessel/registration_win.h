// DllRegisterServer and DllUnregisterServer: the registration script from the
// component's REGISTRY resource (its module path filled in) and the type
// library from its TYPELIB resource. Any thread; COM need not be started.
#pragma once

#include <windows.h>

namespace vellum {

// Writes the script's keys, then registers the type library. The first
// failure ends it: SELFREG_E_CLASS for the keys, the type library's own code.
HRESULT register_component();
// Removes the script's keys and the type library's registration; what is
// missing already is no failure, and the result is always S_OK.
HRESULT unregister_component();

}  // namespace vellum
