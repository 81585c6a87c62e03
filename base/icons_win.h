// The program's two top-level windows as a kind: their classes, how they are
// made, and their eight small (16x16) icons, loaded once at program start and
// kept until the process ends: the six mode icons of the main window and tray
// (shell/mode_rules.h) and the two of the auto-get window. UI thread.
#pragma once

#include <windows.h>

#include "base/window_win.h"

namespace vellum {

void load_small_icons(HINSTANCE instance);
// The loaded icon of a resource id, or nullptr when it is not one of the
// eight or could not be loaded.
HICON small_icon(int id);

// Registers a top-level window class of the program: redraw on resizing, the
// large icon `icon_id` and its small image, the arrow cursor, the window
// colour and the menu `menu_id`. True also when the class already exists.
bool register_program_window_class(HINSTANCE instance, const char* class_name, WNDPROC procedure, int icon_id,
                                   int menu_id);
// How the program's top-level windows are made: overlapped, clipping their
// children, at the default place, with the class menu.
WindowParams program_window_params(const char* class_name, HINSTANCE instance, int width = CW_USEDEFAULT,
                               int height = CW_USEDEFAULT);

}  // namespace vellum
