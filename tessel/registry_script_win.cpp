#include "tessel/registry_script_win.h"

#include "base/registry_win.h"

namespace vellum {

HKEY script_root_key(const std::string& name) {
    struct Root {
        const char* short_name;
        const char* long_name;
        HKEY key;
    };
    static const Root kRoots[] = {
        {"HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
        {"HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER},
        {"HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    };
    for (const Root& root : kRoots) {
        if (lstrcmpiA(name.c_str(), root.short_name) == 0 || lstrcmpiA(name.c_str(), root.long_name) == 0)
            return root.key;
    }
    return nullptr;
}

bool write_registry_script(HKEY parent, const std::vector<ScriptKey>& keys) {
    for (const ScriptKey& entry : keys) {
        if (entry.force_remove && !delete_key_tree(parent, entry.name.c_str())) return false;
        RegKey key = open_or_create_key(parent, entry.name.c_str());
        if (!key) return false;
        for (const ScriptValue& value : entry.values) {
            const char* name = value.name.empty() ? nullptr : value.name.c_str();
            const bool written = value.kind == ScriptValue::Kind::Text ? write_string(key.get(), name, value.text)
                                                                       : write_dword(key.get(), name, value.number);
            if (!written) return false;
        }
        if (!write_registry_script(key.get(), entry.subkeys)) return false;
    }
    return true;
}

void remove_registry_script(HKEY parent, const std::vector<ScriptKey>& keys) {
    for (const ScriptKey& entry : keys) {
        if (!entry.subkeys.empty()) {
            RegKey key = open_key_for_writing(parent, entry.name.c_str());
            if (!key) continue;
            remove_registry_script(key.get(), entry.subkeys);
        }
        // RegDeleteKey refuses a key that still has subkeys: what someone
        // else put below a key of ours keeps the key.
        if (!entry.no_remove) RegDeleteKeyA(parent, entry.name.c_str());
    }
}

}  // namespace vellum
