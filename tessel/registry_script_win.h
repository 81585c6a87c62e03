// Applies a parsed registration script to the registry, and takes it back.
//
// Both work below a key the caller holds (the script's root key, or a test's
// own key) and use the same registry primitives as the installer. Any thread.
#pragma once

#include <windows.h>

#include <vector>

#include "tessel/registry_script.h"

namespace vellum {

// The predefined key a script root names (HKCR, HKCU, HKLM and their long
// names), or null.
HKEY script_root_key(const std::string& name);

// Creates every key and writes every value, a ForceRemove key after deleting
// it whole. Stops at the first key or value that can't be written: false.
bool write_registry_script(HKEY parent, const std::vector<ScriptKey>& keys);

// Deletes what the script wrote: each key after its script subkeys, unless it
// is marked NoRemove or still holds subkeys the script does not name (those
// belong to someone else). A key that is already gone is no failure.
void remove_registry_script(HKEY parent, const std::vector<ScriptKey>& keys);

}  // namespace vellum
