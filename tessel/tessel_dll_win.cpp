// tessel.dll's entry points: DllMain and the four exports of tessel.def.
#include <windows.h>

#include "tessel/class_factory_win.h"
#include "tessel/module_win.h"
#include "tessel/registration_win.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        vellum::set_component_module(instance);
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllCanUnloadNow() { return vellum::component_in_use() ? S_FALSE : S_OK; }

STDAPI DllGetClassObject(REFCLSID class_id, REFIID interface_id, void** object) {
    return vellum::get_class_object(class_id, interface_id, object);
}

STDAPI DllRegisterServer() { return vellum::register_component(); }

STDAPI DllUnregisterServer() { return vellum::unregister_component(); }
