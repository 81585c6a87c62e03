#include "base/debug_keys_win.h"

namespace vellum {
namespace {

// The window property by which the connection debug windows are found.
constexpr char kDebugWindowProperty[] = "ID";
const HANDLE kDebugWindowMark = reinterpret_cast<HANDLE>(1);

}  // namespace

bool run_debug_key(WPARAM menu_char, DebugKeyTarget& target) {
    switch (LOWORD(menu_char)) {
    case 'D':
    case 'd':
        target.close_debug_windows();
        return true;
    case 'L':
    case 'l':
        target.toggle_debug_windows();
        return true;
    }
    return false;
}

void mark_debug_window(HWND debug_window) {
    SetPropA(debug_window, kDebugWindowProperty, kDebugWindowMark);
}

void close_marked_debug_windows(HWND owner) {
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM param) -> BOOL {
            const HWND wanted_owner = reinterpret_cast<HWND>(param);
            if (GetWindow(window, GW_OWNER) == wanted_owner &&
                GetPropA(window, kDebugWindowProperty) == kDebugWindowMark) {
                PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(owner));
}

}  // namespace vellum
