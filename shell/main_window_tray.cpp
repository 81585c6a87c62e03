// The main window's tray icon: added by the first mode refresh, modified by
// every later one, deleted when the window is destroyed.
#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>

#include "base/messages.h"
#include "base/prompt.h"
#include "shell/main_window.h"

namespace vellum {
namespace {

constexpr UINT kTrayIconId = 101;

// The record of the oldest layout: every shell takes it, and its 64-byte tip
// holds the program title.
NOTIFYICONDATAA tray_record(HWND window) {
    NOTIFYICONDATAA data{};
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = window;
    data.uID = kTrayIconId;
    return data;
}

}  // namespace

void MainWindow::add_tray_icon_or_update(HICON icon) {
    NOTIFYICONDATAA data = tray_record(window_);
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = MWM_TRAY;
    data.hIcon = icon;
    lstrcpynA(data.szTip, kProgramTitle, 64);
    if (tray_icon_added_) {
        Shell_NotifyIconA(NIM_MODIFY, &data);
    } else {
        // Without a notification area the add fails; the next refresh tries again.
        tray_icon_added_ = Shell_NotifyIconA(NIM_ADD, &data) != FALSE;
    }
}

void MainWindow::delete_tray_icon() {
    if (!tray_icon_added_) return;
    NOTIFYICONDATAA data = tray_record(window_);
    Shell_NotifyIconA(NIM_DELETE, &data);
    tray_icon_added_ = false;
}

LRESULT MainWindow::OnTray(LPARAM) {
    return 0;
}

void MainWindow::show_tray_menu() {}

}  // namespace vellum
