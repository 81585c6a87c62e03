// The program from start to end: icons, window classes, the main window and
// the hidden auto-get window, then the UI thread's only message loop.
#pragma once

#include <windows.h>

#include <string>

namespace vellum {

// Loads the small icons and registers both window classes. False when a
// class can't be registered.
bool prepare_program(HINSTANCE instance);
// Creates the main window with the command line, then the auto-get window
// (hidden). The main window, or nullptr when either window could not be made.
HWND create_program_windows(HINSTANCE instance, const std::string& command_line);

// Runs the program; returns its exit code (WM_QUIT's, or 0 when start-up
// could not make its windows).
int run_program(HINSTANCE instance, const char* command_line, int show_command);

}  // namespace vellum
