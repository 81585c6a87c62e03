// The log window (dialog 143): a modeless window owned by the main window that
// shows one connection's log. Opened plain by the request tree's ログ表示
// command, or as a connection debug window (with its progress bar) by a
// connection thread in debug mode. Both are driven by messages sent to them,
// from the UI thread or a connection thread (proxy/ui_requests.h):
//   LWM_SET_TEXT      the whole log, scrolled to its end
//   LWM_SET_TITLE     the window title
//   LWM_SET_PROGRESS  the progress bar, 0-100
//   WM_COMMAND IDCANCEL closes the window.
// A connection debug window passes the debug keys on to `debug_keys` (the
// main window); a plain one ignores them. The window keeps nothing beyond its
// controls and belongs to itself. UI thread creates it.
#pragma once

#include <windows.h>

#include "base/debug_keys_win.h"

namespace vellum {

// Creates and shows the window; nullptr on failure.
HWND open_log_window(HWND owner, bool debug_window, DebugKeyTarget* debug_keys);

// Dialog 143 as a plain text window: hides its progress bar and stretches
// the edit over the client area, 5 pixels from each edge.
void hide_log_progress(HWND dialog);

}  // namespace vellum
