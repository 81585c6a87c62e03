// The base of the program's top-level windows: the window procedure binds to
// the window's object once, and everything a window shares with the others.
//
// A window class is registered with Window::procedure as its procedure
// (base/icons_win.h registers the program's classes). Window::create makes the
// window for an object: the procedure stores the object at WM_NCCREATE and
// from then on hands every message to its on_message, which only dispatches
// to one small OnXxx handler per message and passes the rest to
// default_procedure. The window owns its object: it is deleted after
// WM_NCDESTROY, when the window is gone.
//
//   class AboutWindow : public Window {
//   public:
//       static HWND open(HINSTANCE instance) {
//           return create(std::unique_ptr<Window>(new AboutWindow), {.class_name = "ABOUT", .instance = instance});
//       }
//   private:
//       LRESULT on_message(UINT message, WPARAM wparam, LPARAM lparam) override {
//           switch (message) {
//           case WM_CREATE: OnCreate(); return 0;
//           case WM_CLOSE: OnClose(); return 0;
//           }
//           return default_procedure(message, wparam, lparam);
//       }
//       void OnCreate();
//       void OnClose();
//   };
//
// UI thread only: a window, its object and the helpers below belong to the
// thread that made the window.
#pragma once

#include <windows.h>

#include <memory>

namespace vellum {

// How Window::create makes the window (the arguments of CreateWindowExA).
struct WindowParams {
    const char* class_name = nullptr;
    const char* title = "";
    DWORD style = WS_OVERLAPPEDWINDOW;
    DWORD ex_style = 0;
    int x = CW_USEDEFAULT;
    int y = CW_USEDEFAULT;
    int width = CW_USEDEFAULT;
    int height = CW_USEDEFAULT;
    HWND parent = nullptr;
    HMENU menu = nullptr;  // nullptr: the class menu
    HINSTANCE instance = nullptr;
};

class Window {
public:
    virtual ~Window() = default;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    // The window, or nullptr before WM_NCCREATE and after WM_NCDESTROY.
    HWND window() const { return window_; }

    // The procedure of every class whose windows are made by create().
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    // The object of a window made by create(), or nullptr.
    static Window* of(HWND window);

protected:
    Window() = default;

    // Makes the window of `self`, which belongs to the window from then on.
    // nullptr when the window could not be made; `self` is gone then too.
    static HWND create(std::unique_ptr<Window> self, const WindowParams& params);

    // The member procedure: dispatches, nothing more. WM_NCCREATE and
    // WM_NCDESTROY come here too (the object is bound before the first and
    // deleted after the last).
    virtual LRESULT on_message(UINT message, WPARAM wparam, LPARAM lparam) = 0;
    // What a message not handled gets.
    LRESULT default_procedure(UINT message, WPARAM wparam, LPARAM lparam);
    HINSTANCE instance() const;

private:
    HWND window_ = nullptr;
};

// A menu item's check mark, by command id.
void check_item(HMENU menu, UINT id, bool on);

// Makes a control swallow WM_CHAR, so that typing in it never starts its
// incremental search (the tree views of both windows); everything else goes
// to the control's own procedure.
void swallow_typing(HWND control);

}  // namespace vellum
