// The main window's tray icon: added by the first mode refresh, modified by
// every later one, deleted when the window is destroyed. A left click steps
// the mode; a right click offers the tray menu while the program is out of
// sight (the main window and everything it owns hidden).
#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>

#include "base/messages.h"
#include "base/prompt.h"
#include "resources/resource.h"
#include "shell/main_window.h"
#include "shell/mode_rules.h"
#include "shell/settings.h"

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

bool has_visible_owned_window(HWND owner) {
    struct Search {
        HWND owner;
        bool found = false;
    } search{owner};
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<Search*>(param);
            if (GetWindow(window, GW_OWNER) == s->owner && IsWindowVisible(window)) {
                s->found = true;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

void MainWindow::add_tray_icon_or_update(HICON icon) {
    NOTIFYICONDATAA data = tray_record(window());
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
    NOTIFYICONDATAA data = tray_record(window());
    Shell_NotifyIconA(NIM_DELETE, &data);
    tray_icon_added_ = false;
}

LRESULT MainWindow::OnTray(LPARAM mouse_message) {
    switch (mouse_message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:  // comes after a button-down: a double click steps twice
        step_mode(settings());
        refresh_mode_display();
        break;
    case WM_RBUTTONDOWN:
        show_tray_menu();
        break;
    }
    return 0;
}

void MainWindow::show_tray_menu() {
    POINT cursor{};
    GetCursorPos(&cursor);
    SetForegroundWindow(window());
    if (!tray_menu_ || IsWindowVisible(window()) || has_visible_owned_window(window())) return;

    const Settings& s = settings();
    EnableMenuItem(tray_menu_, ID_OPEN_MAIN_WINDOW, MF_BYCOMMAND | MF_ENABLED);
    check_item(tray_menu_, ID_MODE_LOCALIZE, s.localize != 0);
    check_item(tray_menu_, ID_MODE_INTERNET, s.internet != 0);
    ModifyMenuA(tray_menu_, ID_SAVE_FOLDER, MF_BYCOMMAND | MF_STRING, ID_SAVE_FOLDER, s.localPath.c_str());
    check_item(tray_menu_, ID_SHOW_AUTOGET_REQUESTS, s.recTreePut != 0);
    check_item(tray_menu_, ID_LOG_DETAIL, s.log != 0);

    const UINT command = static_cast<UINT>(
        TrackPopupMenu(tray_menu_, TPM_LEFTALIGN | TPM_RETURNCMD, cursor.x, cursor.y, 0, window(), nullptr));
    // Lets the menu close when the user clicks elsewhere (the tray menu's
    // known need for a message after tracking).
    PostMessageA(window(), WM_NULL, 0, 0);
    if (command) SendMessageA(window(), WM_COMMAND, command, 0);
}

}  // namespace vellum
