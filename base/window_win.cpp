#include "base/window_win.h"

namespace vellum {
namespace {

// The object whose window is being made on this thread and is not bound yet:
// when CreateWindowExA fails before WM_NCCREATE, nothing else can free it.
thread_local Window* t_unbound = nullptr;

WNDPROC original_procedure(HWND control) {
    return reinterpret_cast<WNDPROC>(GetWindowLongPtrA(control, GWLP_USERDATA));
}

LRESULT CALLBACK without_typing(HWND control, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_CHAR) return 0;
    return CallWindowProcA(original_procedure(control), control, message, wparam, lparam);
}

}  // namespace

LRESULT CALLBACK Window::procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    Window* self = nullptr;
    if (message == WM_NCCREATE) {
        self = static_cast<Window*>(reinterpret_cast<const CREATESTRUCTA*>(lparam)->lpCreateParams);
        if (self) {
            if (t_unbound == self) t_unbound = nullptr;
            self->window_ = window;
            SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        }
    } else {
        self = of(window);
    }
    if (!self) return DefWindowProcA(window, message, wparam, lparam);

    const LRESULT result = self->on_message(message, wparam, lparam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        self->window_ = nullptr;
        delete self;
    }
    return result;
}

Window* Window::of(HWND window) {
    return window ? reinterpret_cast<Window*>(GetWindowLongPtrA(window, GWLP_USERDATA)) : nullptr;
}

HWND Window::create(std::unique_ptr<Window> self, const WindowParams& params) {
    Window* const raw = self.release();
    Window* const outer = t_unbound;
    t_unbound = raw;
    HWND window = CreateWindowExA(params.ex_style, params.class_name, params.title, params.style, params.x, params.y,
                                  params.width, params.height, params.parent, params.menu, params.instance, raw);
    // Still unbound: the window never saw WM_NCCREATE. Once bound, a failed
    // creation has destroyed the window and the object with it.
    if (t_unbound == raw) delete raw;
    t_unbound = outer;
    return window;
}

LRESULT Window::default_procedure(UINT message, WPARAM wparam, LPARAM lparam) {
    return DefWindowProcA(window_, message, wparam, lparam);
}

HINSTANCE Window::instance() const {
    return reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(window_, GWLP_HINSTANCE));
}

void check_item(HMENU menu, UINT id, bool on) {
    CheckMenuItem(menu, id, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
}

void swallow_typing(HWND control) {
    if (!control || original_procedure(control)) return;
    // The control's own procedure is kept in its user data, which the
    // common controls leave to the application.
    SetWindowLongPtrA(control, GWLP_USERDATA, GetWindowLongPtrA(control, GWLP_WNDPROC));
    SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&without_typing));
}

}  // namespace vellum
