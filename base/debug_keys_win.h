// The debug keys, shared by the main window and the connection debug
// windows: in debug mode Alt+D closes every connection debug window and
// Alt+L turns their opening on or off. Both arrive as WM_MENUCHAR (Alt with a
// letter that matches no mnemonic). The main window holds the state; a debug
// window passes its keys on to it.
//
// A connection thread marks the debug window it opened (mark_debug_window);
// the marks are how the main window finds them all again. UI thread, except
// mark_debug_window, which the connection thread calls on the window the UI
// thread made for it.
#pragma once

#include <windows.h>

namespace vellum {

class DebugKeyTarget {
public:
    virtual void close_debug_windows() = 0;
    virtual void toggle_debug_windows() = 0;

protected:
    ~DebugKeyTarget() = default;
};

// What a window procedure answers for a debug key it ran.
inline constexpr LRESULT kDebugKeyDone = MAKELRESULT(0, MNC_CLOSE);

// Runs the debug key of a WM_MENUCHAR's wParam on `target`: D or d closes,
// L or l toggles. False when the character is neither.
bool run_debug_key(WPARAM menu_char, DebugKeyTarget& target);

void mark_debug_window(HWND debug_window);
// Posts IDCANCEL (which closes them) to every marked window of the calling
// thread that `owner` owns.
void close_marked_debug_windows(HWND owner);

}  // namespace vellum
