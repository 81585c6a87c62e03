#include "autoget/autoget_window.h"

#include "base/format_win.h"
#include "base/icons_win.h"
#include "base/messages.h"
#include "base/placement_win.h"
#include "base/prompt.h"
#include "resources/resource.h"

namespace vellum {
namespace {

class AutoGetWindow {
public:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

    bool deferring = false;
    UINT deferred_message = 0;
    WPARAM deferred_wparam = 0;
    LPARAM deferred_lparam = 0;
    HANDLE crawler_thread = nullptr;
    DWORD crawler_thread_id = 0;

private:
    explicit AutoGetWindow(HWND window) : window_(window) {}
    LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam);
    void OnCreate();
    void OnDestroy();

    HWND window_;
};

HWND g_window = nullptr;
AutoGetSettings* g_settings = nullptr;  // the program-wide record, handed over at creation
AutoGetWindow* g_state = nullptr;

LRESULT CALLBACK AutoGetWindow::procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        g_state = new AutoGetWindow(window);
        g_window = window;
    }
    if (g_state && g_window == window) {
        LRESULT result = g_state->handle(message, wparam, lparam);
        if (message == WM_NCDESTROY) {
            delete g_state;
            g_state = nullptr;
            g_window = nullptr;
        }
        return result;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

LRESULT AutoGetWindow::handle(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_CREATE:
        OnCreate();
        return 0;
    case WM_CLOSE:
        ShowWindow(window_, SW_HIDE);
        return 0;
    case WM_QUERYENDSESSION:
        DestroyWindow(window_);
        return TRUE;
    case WM_DESTROY:
        OnDestroy();
        return 0;
    }
    return DefWindowProcA(window_, message, wparam, lparam);
}

void AutoGetWindow::OnCreate() {
    SetWindowTextA(window_, format_text("自動取得 - %s", kProgramTitle).c_str());
    const AutoGetSettings& s = *g_settings;
    if (s.recWindowPosLeft || s.recWindowPosTop || s.recWindowPosRight || s.recWindowPosBottom) {
        place_window(window_, s.recWindowPosLeft, s.recWindowPosTop, s.recWindowPosRight - s.recWindowPosLeft,
                     s.recWindowPosBottom - s.recWindowPosTop);
    } else {
        center_window(window_);
    }
}

void AutoGetWindow::OnDestroy() {
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    if (GetWindowPlacement(window_, &placement)) {
        AutoGetSettings& s = *g_settings;
        s.recWindowPosLeft = placement.rcNormalPosition.left;
        s.recWindowPosTop = placement.rcNormalPosition.top;
        s.recWindowPosRight = placement.rcNormalPosition.right;
        s.recWindowPosBottom = placement.rcNormalPosition.bottom;
    }
}

}  // namespace

bool register_autoget_window_class(HINSTANCE instance) {
    return register_program_window_class(instance, kAutoGetWindowClass, &AutoGetWindow::procedure, IDI_AUTOGET, IDM_AUTOGET);
}

HWND create_autoget_window(HINSTANCE instance, AutoGetSettings& settings) {
    g_settings = &settings;
    return CreateWindowExA(0, kAutoGetWindowClass, "", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT,
                           CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
}

HWND autoget_window() {
    return g_window;
}

bool autoget_run_in_progress() {
    return g_state && g_state->crawler_thread;
}

void post_to_crawler(UINT message, WPARAM wparam, LPARAM lparam) {
    if (autoget_run_in_progress()) PostThreadMessageA(g_state->crawler_thread_id, message, wparam, lparam);
}

void show_autoget_window() {
    if (!g_window) return;
    if (!IsWindowVisible(g_window)) ShowWindow(g_window, SW_SHOW);
    if (IsIconic(g_window)) ShowWindow(g_window, SW_RESTORE);
    SetForegroundWindow(g_window);
}

void autoget_enter_defer() {
    if (g_state) g_state->deferring = true;
}

void autoget_leave_defer() {
    if (!g_state) return;
    g_state->deferring = false;
    const UINT message = g_state->deferred_message;
    const WPARAM wparam = g_state->deferred_wparam;
    const LPARAM lparam = g_state->deferred_lparam;
    g_state->deferred_message = 0;
    g_state->deferred_wparam = 0;
    g_state->deferred_lparam = 0;
    if (message) SendMessageA(g_window, message, wparam, lparam);
}

bool autoget_deferring() {
    return g_state && g_state->deferring;
}

}  // namespace vellum
