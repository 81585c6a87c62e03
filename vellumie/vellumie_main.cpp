// vellumie.exe: a console program that never writes to its console; it asks
// and reports through message boxes only, and always exits with 0.
#include <windows.h>

#include <string>

#include "vellumie/installer_paths.h"
#include "vellumie/installer_win.h"

int main() {
    // The paths of the installer are at most this long.
    char program_path[1024] = {};
    const DWORD length = GetModuleFileNameA(nullptr, program_path, sizeof program_path);
    vellum::run_installer(vellum::installer_paths(std::string(program_path, length < sizeof program_path ? length : 0)));
    return 0;
}
