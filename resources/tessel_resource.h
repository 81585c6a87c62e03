// Resource ids of tessel.dll. The type library is resource 1 of type TYPELIB,
// where LoadTypeLib looks for it; the registration script is a REGISTRY
// resource.
#pragma once

#define IDR_TESSEL_REGISTRY 101
