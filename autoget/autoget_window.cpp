#include "autoget/autoget_window.h"

#include <memory>

#include "base/format_win.h"
#include "base/icons_win.h"
#include "base/placement_win.h"
#include "base/prompt.h"
#include "resources/resource.h"

namespace vellum {
namespace {

AutoGetWindow* g_instance = nullptr;

}  // namespace

bool register_autoget_window_class(HINSTANCE instance) {
    return register_program_window_class(instance, kAutoGetWindowClass, &Window::procedure, IDI_AUTOGET,
                                         IDM_AUTOGET);
}

HWND create_autoget_window(HINSTANCE instance, AutoGetSettings& settings) {
    return Window::create(std::unique_ptr<Window>(new AutoGetWindow(settings)),
                          program_window_spec(kAutoGetWindowClass, instance));
}

AutoGetWindow* AutoGetWindow::instance() {
    return g_instance;
}

AutoGetWindow::~AutoGetWindow() {
    if (g_instance == this) g_instance = nullptr;
}

LRESULT AutoGetWindow::on_message(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_NCCREATE:
        g_instance = this;
        break;
    case WM_CREATE:
        OnCreate();
        return 0;
    case WM_CLOSE:
        ShowWindow(window(), SW_HIDE);
        return 0;
    case WM_QUERYENDSESSION:
        DestroyWindow(window());
        return TRUE;
    case WM_DESTROY:
        OnDestroy();
        return 0;
    case WM_NCDESTROY:
        g_instance = nullptr;
        break;
    }
    return default_procedure(message, wparam, lparam);
}

void AutoGetWindow::OnCreate() {
    SetWindowTextA(window(), format_text("自動取得 - %s", kProgramTitle).c_str());
    AutoGetSettings& s = settings_;
    restore_placement(window(), {s.recWindowPosLeft, s.recWindowPosTop, s.recWindowPosRight, s.recWindowPosBottom});
}

void AutoGetWindow::OnDestroy() {
    AutoGetSettings& s = settings_;
    remember_placement(window(), {s.recWindowPosLeft, s.recWindowPosTop, s.recWindowPosRight, s.recWindowPosBottom});
}

void AutoGetWindow::post_to_crawler(UINT message, WPARAM wparam, LPARAM lparam) const {
    if (run_in_progress()) PostThreadMessageA(crawler_thread_id_, message, wparam, lparam);
}

void AutoGetWindow::show() {
    if (!IsWindowVisible(window())) ShowWindow(window(), SW_SHOW);
    if (IsIconic(window())) ShowWindow(window(), SW_RESTORE);
    SetForegroundWindow(window());
}

HWND autoget_window() {
    return g_instance ? g_instance->window() : nullptr;
}

bool autoget_run_in_progress() {
    return g_instance && g_instance->run_in_progress();
}

void post_to_crawler(UINT message, WPARAM wparam, LPARAM lparam) {
    if (g_instance) g_instance->post_to_crawler(message, wparam, lparam);
}

void show_autoget_window() {
    if (g_instance) g_instance->show();
}

void autoget_enter_defer() {
    if (g_instance) g_instance->deferral().begin();
}

void autoget_leave_defer() {
    if (g_instance) g_instance->deferral().end(g_instance->window());
}

bool autoget_deferring() {
    return g_instance && g_instance->deferral().active();
}

}  // namespace vellum
