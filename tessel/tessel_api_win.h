// The TesselApi object: IUnknown, IDispatch (served from the type library in
// the component's resources) and ITesselApi, nothing else.
//
// Apartment-threaded: an object is used on the thread that created it. Each
// live object holds the component in use (module_win.h).
#pragma once

#include <windows.h>

namespace vellum {

// A new object's `interface_id` interface in `*object` (one reference), or
// an error and null.
HRESULT create_tessel_api(REFIID interface_id, void** object);

}  // namespace vellum
