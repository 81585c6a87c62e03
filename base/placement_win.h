// Moving windows inside the desktop's work area (rules in shell/placement.h).
// If the work area can't be read they do nothing; none of them shows the
// window. UI thread.
#pragma once

#include <windows.h>

namespace vellum {

void place_window(HWND window, int x, int y, int width, int height);
void center_window(HWND window);
// Every dialog calls it when it opens.
void place_at_cursor(HWND window);

}  // namespace vellum
