#include "shell/log_window.h"

#include <commctrl.h>

#include <memory>

#include "base/dialog_win.h"
#include "base/messages.h"
#include "proxy/ui_requests.h"
#include "resources/resource.h"

namespace vellum {
namespace {

// Inset of the edit when the progress bar is hidden.
constexpr int kMargin = 5;

class LogWindow : public ModelessDialog {
public:
    LogWindow(bool debug, DebugKeyTarget* debug_keys)
        : ModelessDialog(IDD_LOG, "ログ"), debug_(debug), debug_keys_(debug_keys) {}

private:
    void on_init() override;
    INT_PTR on_message(UINT message, WPARAM wparam, LPARAM lparam) override;
    void OnSetText(const char* text);
    INT_PTR OnMenuChar(WPARAM wparam);

    bool debug_;
    DebugKeyTarget* debug_keys_;
};

void LogWindow::on_init() {
    // The text is a whole connection log: no limit on its length.
    send_item(IDC_LOG_TEXT, EM_SETLIMITTEXT, 0, 0);
    if (debug_) {
        send_item(IDC_LOG_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    } else {
        hide_log_progress(dialog());
    }
}

INT_PTR LogWindow::on_message(UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
    case LWM_SET_TEXT:
        OnSetText(log_text_of(wparam));
        return TRUE;
    case LWM_SET_TITLE:
        SetWindowTextA(dialog(), log_text_of(wparam));
        return TRUE;
    case LWM_SET_PROGRESS:
        send_item(IDC_LOG_PROGRESS, PBM_SETPOS, log_progress_of(wparam), 0);
        return TRUE;
    case WM_MENUCHAR:
        return OnMenuChar(wparam);
    }
    return FALSE;
}

void LogWindow::OnSetText(const char* text) {
    SetWindowTextA(item(IDC_LOG_TEXT), text);
    const LRESULT lines = send_item(IDC_LOG_TEXT, EM_GETLINECOUNT, 0, 0);
    send_item(IDC_LOG_TEXT, EM_LINESCROLL, 0, lines);
}

INT_PTR LogWindow::OnMenuChar(WPARAM wparam) {
    // Only a connection debug window shares the main window's debug keys.
    if (!debug_ || !debug_keys_ || !run_debug_key(wparam, *debug_keys_)) return FALSE;
    set_result(kDebugKeyDone);
    return TRUE;
}

}  // namespace

void hide_log_progress(HWND dialog) {
    ShowWindow(GetDlgItem(dialog, IDC_LOG_PROGRESS), SW_HIDE);
    RECT client{};
    GetClientRect(dialog, &client);
    MoveWindow(GetDlgItem(dialog, IDC_LOG_TEXT), kMargin, kMargin, client.right - 2 * kMargin,
               client.bottom - 2 * kMargin, TRUE);
}

HWND open_log_window(HWND owner, bool debug_window, DebugKeyTarget* debug_keys) {
    return ModelessDialog::open(std::make_unique<LogWindow>(debug_window, debug_keys), owner);
}

}  // namespace vellum
