// The main window's command table: every menu, tray-menu, toolbar and
// request-tree command goes through OnCommand, one function per command;
// and the request tree's mouse, keys and context menu, which run a command on
// a finished request inside the deferral that keeps the tree still.
#include <windowsx.h>

#include "autoget/autoget_window.h"
#include "base/clipboard_win.h"
#include "base/folder_chooser_win.h"
#include "base/messages.h"
#include "base/prompt.h"
#include "proxy/connection_io_win.h"
#include "proxy/listener_win.h"
#include "resources/resource.h"
#include "shell/dialup_dialog_win.h"
#include "shell/help_win.h"
#include "shell/main_window.h"
#include "shell/mode_rules.h"
#include "shell/proxy_dialog_win.h"
#include "shell/reservation_win.h"
#include "shell/settings.h"
#include "shell/winsock_info_dialog_win.h"

namespace vellum {
namespace {

bool has_log(const RequestNode& node) {
    return node.log && !node.log->empty();
}

}  // namespace

bool MainWindow::OnCommand(UINT id) {
    switch (id) {
    case ID_FILE_EXIT: OnExit(); return true;
    case ID_MODE_INTERNET: OnToggleInternet(); return true;
    case ID_MODE_LOCALIZE: OnToggleLocalize(); return true;
    case ID_SAVE_FOLDER: OnChooseSaveFolder(); return true;
    case ID_DIALUP_SETTINGS: OnDialUpSettings(); return true;
    case ID_OPEN_AUTOGET: OnOpenAutoGet(); return true;
    case ID_DISCARD_COOKIES: OnDiscardCookies(); return true;
    case ID_PROXY_SETTINGS: OnProxySettings(); return true;
    case ID_SHOW_AUTOGET_REQUESTS: OnToggleShowAutoGetRequests(); return true;
    case ID_LOG_DETAIL: OnToggleLogDetail(); return true;
    case ID_HELP_MANUAL: OnHelp(); return true;
    case ID_HELP_HOMEPAGE: OnHomePage(); return true;
    case ID_HELP_WINSOCK: OnWinsockInfo(); return true;
    case ID_HELP_VERSION: OnVersion(); return true;
    case ID_OPEN_MAIN_WINDOW: OnOpenMainWindow(); return true;
    case ID_REQUEST_RESERVE: OnReserveRequest(); return true;
    case ID_REQUEST_COPY: OnCopyRequestUrl(); return true;
    case ID_REQUEST_LOG: OnShowRequestLog(); return true;
    }
    return false;
}

void MainWindow::OnExit() {
    PostMessageA(window(), WM_CLOSE, 0, 0);
}

void MainWindow::OnToggleInternet() {
    toggle_internet(settings());
    refresh_mode_display();
}

void MainWindow::OnToggleLocalize() {
    toggle_localize(settings());
    refresh_mode_display();
}

void MainWindow::OnChooseSaveFolder() {
    choose_save_folder(settings().localPath);
}

void MainWindow::choose_save_folder(const std::optional<std::string>& start) {
    std::string chosen;
    if (choose_folder(window(), "保存フォルダを指定してください", start, chosen) != kFolderChosen) return;
    if (chosen.empty()) {
        show_warning(window(), "保存フォルダが未指定です。");
        return;
    }
    settings().localPath = chosen;
    show_save_folder();
    ModifyMenuA(GetMenu(window()), ID_SAVE_FOLDER, MF_BYCOMMAND | MF_STRING, ID_SAVE_FOLDER, chosen.c_str());
}

void MainWindow::OnDialUpSettings() {
    DialUpDialog dialog(settings().dialUp);
    if (dialog.run(window()) == IDOK) settings().dialUp = dialog.record;
}

// Discarding cookies comes with the cookie jar's own commands; until then it
// does nothing.
void MainWindow::OnDiscardCookies() {}

void MainWindow::OnProxySettings() {
    ProxyDialog dialog(settings().proxy, listen_address_);
    if (dialog.run(window()) == IDOK) settings().proxy = dialog.record;
}

void MainWindow::OnHelp() {
    open_manual();
}

void MainWindow::OnHomePage() {
    open_home_page(window());
}

void MainWindow::OnWinsockInfo() {
    WinsockInfoDialog dialog(winsock_data());
    dialog.run(window());
}

void MainWindow::OnVersion() {
    show_version_box(window());
}

void MainWindow::OnOpenAutoGet() {
    show_autoget_window();
}

void MainWindow::OnToggleShowAutoGetRequests() {
    Settings& s = settings();
    s.recTreePut = s.recTreePut ? 0 : 1;
    check_item(GetMenu(window()), ID_SHOW_AUTOGET_REQUESTS, s.recTreePut != 0);
    if (!s.recTreePut && progress_bar_) {
        progress_bar_changing();
        SendMessageA(progress_bar_, PBM_SETPOS, 0, 0);
    }
}

void MainWindow::OnToggleLogDetail() {
    Settings& s = settings();
    s.log = s.log ? 0 : 1;
    check_item(GetMenu(window()), ID_LOG_DETAIL, s.log != 0);
}

void MainWindow::OnOpenMainWindow() {
    if (!IsWindowVisible(window())) ShowWindow(window(), SW_SHOW);
    if (IsIconic(window())) ShowWindow(window(), SW_RESTORE);
    SetForegroundWindow(window());
}

void MainWindow::OnReserveRequest() {
    if (selected_request_ && selected_request_->request) reserve_for_autoget(*selected_request_->request);
}

void MainWindow::OnCopyRequestUrl() {
    if (!selected_request_ || selected_request_->url().empty()) return;
    put_text_on_clipboard(window(), selected_request_->url());
}

void MainWindow::OnShowRequestLog() {
    if (!selected_request_ || selected_request_->url().empty() || !has_log(*selected_request_)) return;
    HWND log = send_open_log(window(), false);
    if (!log) return;
    send_log_title(log, selected_request_->url());
    send_log_text(log, selected_request_->log->join());
}

void MainWindow::begin_request_command(RequestNode* node) {
    deferring_ = true;
    autoget_enter_defer();
    request_tree_->pin(node);  // pruning must not free it meanwhile
    selected_request_ = node;
}

void MainWindow::end_request_command(RequestNode* node) {
    request_tree_->unpin(node);
    autoget_leave_defer();
    deferring_ = false;
    replay_parked();
    selected_request_ = nullptr;
}

bool MainWindow::run_request_command(HTREEITEM item, UINT command) {
    // One command at a time: a second one would end the first one's deferral.
    if (!item || !request_tree_ || deferring_) return false;
    RequestNode* node = request_tree_->node_of_item(item);
    if (!node || !node->finished()) return false;
    begin_request_command(node);
    SendMessageA(window(), WM_COMMAND, command, 0);
    end_request_command(node);
    return true;
}

bool MainWindow::OnTreeKeyDown(const NMTVKEYDOWN* key) {
    HTREEITEM selected = TreeView_GetSelection(tree_view_);
    if (key->wVKey == VK_RETURN) return run_request_command(selected, ID_REQUEST_RESERVE);
    if (key->wVKey == 'C' && GetKeyState(VK_CONTROL) < 0) return run_request_command(selected, ID_REQUEST_COPY);
    return false;
}

bool MainWindow::OnTreeContextMenu(LPARAM point) {
    if (!request_tree_ || deferring_) return false;
    const bool from_keyboard = point == -1;
    POINT at{GET_X_LPARAM(point), GET_Y_LPARAM(point)};
    HTREEITEM item = nullptr;
    if (!from_keyboard) {
        TVHITTESTINFO hit{};
        hit.pt = at;
        ScreenToClient(tree_view_, &hit.pt);
        if (TreeView_HitTest(tree_view_, &hit) && (hit.flags & TVHT_ONITEM)) {
            item = hit.hItem;
            TreeView_SelectItem(tree_view_, item);
        }
    }
    if (!item) item = TreeView_GetSelection(tree_view_);
    if (!item) return false;

    RECT client{};
    GetClientRect(tree_view_, &client);
    POINT inside = at;
    ScreenToClient(tree_view_, &inside);
    if (from_keyboard || !PtInRect(&client, inside)) {
        at = POINT{0, 0};
        ClientToScreen(tree_view_, &at);
    }

    RequestNode* node = request_tree_->node_of_item(item);
    if (!node || !node->finished()) return false;
    EnableMenuItem(request_menu_, ID_REQUEST_RESERVE, MF_BYCOMMAND | MF_ENABLED);
    EnableMenuItem(request_menu_, ID_REQUEST_LOG, MF_BYCOMMAND | (has_log(*node) ? MF_ENABLED : MF_GRAYED));

    begin_request_command(node);
    const UINT command = static_cast<UINT>(
        TrackPopupMenu(request_menu_, TPM_LEFTALIGN | TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0, window(), nullptr));
    if (command) SendMessageA(window(), WM_COMMAND, command, 0);
    end_request_command(node);
    return true;
}

}  // namespace vellum
