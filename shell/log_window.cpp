#include "shell/log_window.h"

#include <commctrl.h>

#include "base/messages.h"
#include "proxy/ui_requests.h"
#include "resources/resource.h"
#include "shell/main_window.h"
#include "base/placement_win.h"

namespace vellum {
namespace {

// Inset of the edit when the progress bar is hidden.
constexpr int kMargin = 5;

class LogWindow {
public:
    static INT_PTR CALLBACK procedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

private:
    LogWindow(HWND dialog, bool debug) : dialog_(dialog), debug_(debug) {}
    INT_PTR handle(UINT message, WPARAM wparam, LPARAM lparam);
    void OnInitDialog();
    void OnSetText(const char* text);
    INT_PTR OnMenuChar(WPARAM wparam);

    HWND dialog_;
    bool debug_;
};

INT_PTR CALLBACK LogWindow::procedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        auto* self = new LogWindow(dialog, lparam != 0);
        SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<LogWindow*>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (!self) return FALSE;
    INT_PTR result = self->handle(message, wparam, lparam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(dialog, DWLP_USER, 0);
        delete self;
    }
    return result;
}

INT_PTR LogWindow::handle(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog();
        return TRUE;
    case LWM_SET_TEXT:
        OnSetText(log_text_of(wparam));
        return TRUE;
    case LWM_SET_TITLE:
        SetWindowTextA(dialog_, log_text_of(wparam));
        return TRUE;
    case LWM_SET_PROGRESS:
        SendDlgItemMessageA(dialog_, IDC_LOG_PROGRESS, PBM_SETPOS, log_progress_of(wparam), 0);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wparam) == IDCANCEL) {
            DestroyWindow(dialog_);
            return TRUE;
        }
        return FALSE;
    case WM_MENUCHAR:
        return OnMenuChar(wparam);
    }
    (void)lparam;
    return FALSE;
}

void LogWindow::OnInitDialog() {
    SetWindowTextA(dialog_, "ログ");
    HWND edit = GetDlgItem(dialog_, IDC_LOG_TEXT);
    // The text is a whole connection log: no limit on its length.
    SendMessageA(edit, EM_SETLIMITTEXT, 0, 0);
    if (debug_) {
        SendDlgItemMessageA(dialog_, IDC_LOG_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    } else {
        ShowWindow(GetDlgItem(dialog_, IDC_LOG_PROGRESS), SW_HIDE);
        RECT client{};
        GetClientRect(dialog_, &client);
        MoveWindow(edit, kMargin, kMargin, client.right - 2 * kMargin, client.bottom - 2 * kMargin, TRUE);
    }
    place_at_cursor(dialog_);
}

void LogWindow::OnSetText(const char* text) {
    HWND edit = GetDlgItem(dialog_, IDC_LOG_TEXT);
    SetWindowTextA(edit, text);
    const LRESULT lines = SendMessageA(edit, EM_GETLINECOUNT, 0, 0);
    SendMessageA(edit, EM_LINESCROLL, 0, lines);
}

INT_PTR LogWindow::OnMenuChar(WPARAM wparam) {
    // Only a connection debug window shares the main window's debug keys.
    HWND owner = GetWindow(dialog_, GW_OWNER);
    MainWindow* main = debug_ && owner && owner == main_window() ? MainWindow::of(owner) : nullptr;
    if (!main) return FALSE;
    switch (LOWORD(wparam)) {
    case 'D':
    case 'd':
        main->close_debug_windows();
        break;
    case 'L':
    case 'l':
        main->toggle_debug_windows();
        break;
    default:
        return FALSE;
    }
    SetWindowLongPtrA(dialog_, DWLP_MSGRESULT, MAKELRESULT(0, MNC_CLOSE));
    return TRUE;
}

}  // namespace

HWND open_log_window(HWND owner, bool debug_window) {
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(owner, GWLP_HINSTANCE));
    HWND dialog = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_LOG), owner, &LogWindow::procedure,
                                     debug_window ? 1 : 0);
    if (dialog) ShowWindow(dialog, SW_SHOW);
    return dialog;
}

}  // namespace vellum
