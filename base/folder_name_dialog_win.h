// The folder-name dialog (resource 178): asks the folder chooser's user for
// the name of a folder to create.
//
// UI thread. Modal; the name comes back in the caller's string.
#pragma once

#include <windows.h>

#include <string>

namespace vellum {

// Asks for a name over `owner`; the edit starts with `name` when it is not
// empty. OK puts at most 259 bytes of the edit into `name` (a 260-byte path
// buffer) and gives IDOK; cancel gives IDCANCEL and leaves `name` alone.
int ask_folder_name(HWND owner, std::string& name);

}  // namespace vellum
