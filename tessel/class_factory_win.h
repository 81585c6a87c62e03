// DllGetClassObject's answer: the class factory of TesselApi, one static
// object for the life of the module; only LockServer and the objects it makes
// keep the component in use. Any thread.
#pragma once

#include <windows.h>

namespace vellum {

// CLASS_E_CLASSNOTAVAILABLE for any class but TesselApi.
HRESULT get_class_object(REFCLSID class_id, REFIID interface_id, void** object);

}  // namespace vellum
