#include "tessel/registration_win.h"

#include <olectl.h>

#include <optional>
#include <string_view>
#include <vector>

#include "base/win_handles.h"
#include "resources/tessel_resource.h"
#include "tessel/identity_win.h"
#include "tessel/module_win.h"
#include "tessel/registry_script.h"
#include "tessel/registry_script_win.h"

namespace vellum {
namespace {

// The script resource, parsed with this module's path for %MODULE%.
std::optional<std::vector<ScriptRoot>> load_script() {
    HMODULE module = component_module();
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(IDR_TESSEL_REGISTRY), "REGISTRY");
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) return std::nullopt;
    const std::string_view text(static_cast<const char*>(bytes), SizeofResource(module, found));
    return parse_registry_script(text, {{"MODULE", component_module_path()}});
}

}  // namespace

HRESULT register_component() {
    const std::optional<std::vector<ScriptRoot>> script = load_script();
    if (!script) return SELFREG_E_CLASS;
    for (const ScriptRoot& root : *script) {
        HKEY root_key = script_root_key(root.name);
        if (!root_key || !write_registry_script(root_key, root.keys)) return SELFREG_E_CLASS;
    }

    std::wstring path = component_module_path_wide();
    ITypeLib* raw_library = nullptr;
    HRESULT result = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &raw_library);
    if (FAILED(result)) return result;
    ComPtr<ITypeLib> library(raw_library);
    return RegisterTypeLib(library.get(), path.data(), nullptr);
}

HRESULT unregister_component() {
    if (const std::optional<std::vector<ScriptRoot>> script = load_script()) {
        for (const ScriptRoot& root : *script) {
            if (HKEY root_key = script_root_key(root.name)) remove_registry_script(root_key, root.keys);
        }
    }
    // Registration registered the library; leaving it would keep naming a
    // file that may be gone.
    UnRegisterTypeLib(kTesselLibraryId, kTesselLibraryMajor, kTesselLibraryMinor, LOCALE_NEUTRAL, SYS_WIN64);
    return S_OK;
}

}  // namespace vellum
