// The log window (dialog 143): a modeless window owned by the main window that
// shows one connection's log. Opened plain by the request tree's ログ表示
// command, or as a connection debug window (with its progress bar) by a
// connection thread in debug mode. Both are driven by messages sent to them,
// from the UI thread or a connection thread:
//   LWM_SET_TEXT      wParam const char*: the whole log, scrolled to its end
//   LWM_SET_TITLE     wParam const char*: the window title
//   LWM_SET_PROGRESS  wParam 0-100: the progress bar
//   WM_COMMAND IDCANCEL closes the window.
// The window keeps nothing beyond its controls. UI thread creates it.
#pragma once

#include <windows.h>

namespace vellum {

// Creates and shows the window; nullptr on failure.
HWND open_log_window(HWND owner, bool debug_window);

}  // namespace vellum
