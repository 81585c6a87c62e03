#include "tessel/class_factory_win.h"

#include "tessel/identity_win.h"
#include "tessel/module_win.h"
#include "tessel/tessel_api_win.h"

namespace vellum {
namespace {

class TesselApiFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID interface_id, void** object) override {
        if (!object) return E_POINTER;
        if (IsEqualIID(interface_id, IID_IUnknown) || IsEqualIID(interface_id, IID_IClassFactory)) {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // The factory lives as long as the module: its count means nothing.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID interface_id, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return create_tessel_api(interface_id, object);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        lock ? lock_component() : unlock_component();
        return S_OK;
    }
};

TesselApiFactory g_factory;

}  // namespace

HRESULT get_class_object(REFCLSID class_id, REFIID interface_id, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!IsEqualCLSID(class_id, kTesselApiClassId)) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(interface_id, object);
}

}  // namespace vellum
