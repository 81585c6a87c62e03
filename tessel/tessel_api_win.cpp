#include "tessel/tessel_api_win.h"

#include <atomic>
#include <new>

#include "base/win_handles.h"
#include "tessel/identity_win.h"
#include "tessel/module_win.h"
#include "tessel/reserve_win.h"

namespace vellum {
namespace {

class TesselApi final : public ITesselApi {
public:
    TesselApi() { lock_component(); }
    ~TesselApi() { unlock_component(); }
    TesselApi(const TesselApi&) = delete;
    TesselApi& operator=(const TesselApi&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID interface_id, void** object) override {
        if (!object) return E_POINTER;
        if (IsEqualIID(interface_id, IID_IUnknown) || IsEqualIID(interface_id, IID_IDispatch) ||
            IsEqualIID(interface_id, kTesselApiInterfaceId)) {
            *object = static_cast<ITesselApi*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
        if (!info) return E_POINTER;
        *info = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        const HRESULT loaded = load_type_info();
        if (FAILED(loaded)) return loaded;
        dispatch_info_.get()->AddRef();
        *info = dispatch_info_.get();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID reserved, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override {
        if (!IsEqualIID(reserved, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        const HRESULT loaded = load_type_info();
        if (FAILED(loaded)) return loaded;
        return DispGetIDsOfNames(interface_info_.get(), names, count, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID reserved, LCID, WORD flags, DISPPARAMS* parameters,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argument_error) override {
        if (!IsEqualIID(reserved, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        const HRESULT loaded = load_type_info();
        if (FAILED(loaded)) return loaded;
        return DispInvoke(static_cast<ITesselApi*>(this), interface_info_.get(), member, flags, parameters, result,
                          exception, argument_error);
    }

    // ITesselApi. The cookie is accepted for the scripts' sake and never
    // reaches the proxy.
    HRESULT STDMETHODCALLTYPE ReserveAutoGet(BSTR url, BSTR referer, BSTR user_agent, BSTR) override {
        reserve_auto_get(url, referer, user_agent);
        return S_OK;
    }

private:
    // The type library comes from the component file's own resources, so the
    // object works whether or not the library is registered. Late binding
    // calls through the vtable description of the dual interface: the
    // dispatch description names the same members.
    HRESULT load_type_info() {
        if (interface_info_) return S_OK;
        ITypeLib* raw_library = nullptr;
        HRESULT result = LoadTypeLibEx(component_module_path_wide().c_str(), REGKIND_NONE, &raw_library);
        if (FAILED(result)) return result;
        ComPtr<ITypeLib> library(raw_library);
        ITypeInfo* raw_dispatch = nullptr;
        result = library.get()->GetTypeInfoOfGuid(kTesselApiInterfaceId, &raw_dispatch);
        if (FAILED(result)) return result;
        ComPtr<ITypeInfo> dispatch(raw_dispatch);
        HREFTYPE vtable_reference = 0;
        ITypeInfo* raw_interface = nullptr;
        result = dispatch.get()->GetRefTypeOfImplType(-1, &vtable_reference);
        if (SUCCEEDED(result)) result = dispatch.get()->GetRefTypeInfo(vtable_reference, &raw_interface);
        if (FAILED(result)) return result;
        dispatch_info_ = std::move(dispatch);
        interface_info_ = ComPtr<ITypeInfo>(raw_interface);
        return S_OK;
    }

    std::atomic<ULONG> references_{1};
    ComPtr<ITypeInfo> dispatch_info_;
    ComPtr<ITypeInfo> interface_info_;
};

}  // namespace

HRESULT create_tessel_api(REFIID interface_id, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    auto* api = new (std::nothrow) TesselApi;
    if (!api) return E_OUTOFMEMORY;
    const HRESULT result = api->QueryInterface(interface_id, object);
    api->Release();
    return result;
}

}  // namespace vellum
