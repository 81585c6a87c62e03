// The loaded tessel.dll as a whole: its module handle (set once by DllMain
// before anything else runs) and the count of live objects and server locks
// that decides whether it may be unloaded. Any thread.
#pragma once

#include <windows.h>

#include <string>

namespace vellum {

void set_component_module(HMODULE module);
// The DLL's module; the process's own file when nothing was set (a program
// that links the component's code directly).
HMODULE component_module();
// Full paths of the module file, in the ANSI code page and in UTF-16.
std::string component_module_path();
std::wstring component_module_path_wide();

// One count per live object and per IClassFactory::LockServer(TRUE).
void lock_component();
void unlock_component();
bool component_in_use();

}  // namespace vellum
