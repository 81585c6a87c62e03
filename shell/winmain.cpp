// vellum.exe: everything lives in the program's libraries.
#include <windows.h>

#include "shell/program_win.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int show_command) {
    return vellum::run_program(instance, command_line, show_command);
}
