#include "shell/main_window.h"

#include <commctrl.h>

#include <iterator>

#include "autoget/autoget_window.h"
#include "autoget/start_schedule_win.h"
#include "cookies/cookies_win.h"
#include "proxy/dialup_win.h"
#include "base/format_win.h"
#include "base/frame_controls_win.h"
#include "base/messages.h"
#include "base/prompt.h"
#include "resources/resource.h"
#include "base/icons_win.h"
#include "shell/mode_rules.h"
#include "base/placement_win.h"
#include "shell/settings_win.h"
#include "base/toolbar_win.h"

namespace vellum {
namespace {

HWND g_main_window = nullptr;

// Right edges of the status bar's three parts: progress, thread count, save folder.
constexpr int kStatusPartEdges[] = {103, 183, 1183};
// The first size shows a save folder's full path in the status bar's last part.
constexpr int kInitialWidth = 640;
// Retries a close that waited for the auto-get window's dialog (not one of the
// program's fixed timer numbers, which belong to the auto-get window).
constexpr UINT_PTR kCloseAgainTimer = 0x5643;
constexpr int kInitialHeight = 400;

}  // namespace

bool register_main_window_class(HINSTANCE instance) {
    return register_program_window_class(instance, kMainWindowClass, &Window::procedure, IDI_OFFLINE, IDM_MAIN);
}

HWND create_main_window(HINSTANCE instance, const std::string& command_line) {
    return Window::create(std::unique_ptr<Window>(new MainWindow(command_line)),
                          program_window_params(kMainWindowClass, instance, kInitialWidth, kInitialHeight));
}

HWND main_window() {
    return g_main_window;
}

MainWindow::MainWindow(std::string command_line) : command_line_(std::move(command_line)) {}

MainWindow::~MainWindow() = default;

LRESULT MainWindow::on_message(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_NCCREATE:
        g_main_window = window();
        break;
    case WM_NCDESTROY:
        if (g_main_window == window()) g_main_window = nullptr;
        break;
    case WM_CREATE:
        OnCreate();
        return 0;
    case WM_SIZE:
        OnSize(wparam, lparam);
        return 0;
    case WM_SETFOCUS:
        if (tree_view_) SetFocus(tree_view_);
        return 0;
    case WM_CLOSE:
        OnClose();
        return 0;
    case WM_TIMER:
        if (wparam == tree_thaw_timer_.id()) {
            thaw_request_tree();
            return 0;
        }
        if (wparam == connection_state_timer_.id()) {
            OnConnectionStateTick();
            return 0;
        }
        if (wparam != kCloseAgainTimer) break;
        KillTimer(window(), kCloseAgainTimer);
        PostMessageA(window(), WM_CLOSE, 0, 0);
        return 0;
    case WM_DESTROY:
        OnDestroy();
        return 0;
    case WM_QUERYENDSESSION:
        OnQueryEndSession();
        return TRUE;
    case WM_NOTIFY:
        return OnNotify(reinterpret_cast<NMHDR*>(lparam));
    case WM_CONTEXTMENU:
        if (OnContextMenu(reinterpret_cast<HWND>(wparam), lparam)) return 0;
        break;
    case WM_MENUCHAR:
        return OnMenuChar(wparam, lparam);
    case WM_COMMAND:
        thaw_request_tree();  // a command sees the tree as the user does
        if (OnCommand(LOWORD(wparam))) return 0;
        break;

    case MWM_TRAY:
        return OnTray(lparam);
    case MWM_OPEN_LOG:
        return OnOpenLog(OpenLog::decode(wparam, lparam));
    case MWM_PROGRESS:
        OnProgress(ProgressReport::decode(wparam, lparam));
        return 0;
    case MWM_REOPEN_FOLDER:
        choose_save_folder(std::nullopt);
        return 0;

    case MWM_CLIENT_ACCEPTED:
        OnClientAccepted(AcceptedSocket::decode(wparam, lparam));
        return 0;
    case MWM_CONNECTION_DONE:
        OnConnectionDone(ConnectionDone::decode(wparam, lparam));
        return 0;
    case MWM_OPEN_SERVER_SOCKET:
        connections_.open_server_socket(SocketRequest::decode(message, wparam, lparam));
        return 0;
    case MWM_CLOSE_SERVER_SOCKET:
        connections_.close_server_socket(SocketRequest::decode(message, wparam, lparam));
        return 0;
    case MWM_CLOSE_CLIENT_SOCKET:
        connections_.close_client_socket(SocketRequest::decode(message, wparam, lparam));
        return 0;
    case MWM_MARK_AUTOGET:
        connections_.mark_autoget(MarkAutoget::decode(wparam, lparam));
        return 0;

    case MWM_REQUEST_ADD:
        OnRequestAdd(RequestAdd::decode(wparam, lparam));
        return 0;
    case MWM_REQUEST_DONE:
        OnRequestDone(RequestDone::decode(wparam, lparam));
        return 0;
    case MWM_REQUEST_BEGUN:
        OnRequestBegun(RequestBegun::adopt(lparam));
        return 0;
    case MWM_REQUEST_ENDED:
        OnRequestEnded(RequestEnded::adopt(lparam));
        return 0;
    case MWM_COOKIE_GET:
        OnCookieGet(CookieGet::decode(wparam, lparam));
        return 0;
    case MWM_COOKIE_SET:
        OnCookieSet(CookieSet::decode(wparam, lparam));
        return 0;
    case MWM_AUTH_NOTE:
        OnAuthNote(AuthNote::decode(wparam, lparam));
        return 0;
    case MWM_QUEUE_GETONLY:
        OnQueueGetOnly(ForcedGet::decode(wparam, lparam));
        return 0;
    case MWM_RESERVE:
        OnReserve(Reservation::decode(wparam, lparam));
        return 0;
    }
    return default_procedure(message, wparam, lparam);
}

void MainWindow::OnCreate() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_TREEVIEW_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    store_lock_ = std::make_unique<StoreLock>();
    install_store_lock(store_lock_.get());
    SetWindowTextA(window(), kProgramTitle);

    cookie_jar_load();
    credentials_load();
    load_settings(settings());

    Settings& s = settings();
    restore_placement(window(), {s.windowPosLeft, s.windowPosTop, s.windowPosRight, s.windowPosBottom});

    if (!create_controls()) {
        PostMessageA(window(), WM_CLOSE, 0, 0);
        return;
    }

    HMENU menu = GetMenu(window());
    ModifyMenuA(menu, ID_SAVE_FOLDER, MF_BYCOMMAND | MF_STRING, ID_SAVE_FOLDER, s.localPath.c_str());
    check_item(menu, ID_SHOW_AUTOGET_REQUESTS, s.recTreePut != 0);
    check_item(menu, ID_LOG_DETAIL, s.log != 0);

    refresh_mode_display();
    show_connection_count();
    show_save_folder();

    if (!start_network()) PostMessageA(window(), WM_CLOSE, 0, 0);
}

bool MainWindow::create_controls() {
    tray_menu_resource_.reset(LoadMenuA(instance(), MAKEINTRESOURCEA(IDM_TRAY)));
    tray_menu_ = tray_menu_resource_ ? GetSubMenu(tray_menu_resource_.get(), 0) : nullptr;
    request_menu_resource_.reset(LoadMenuA(instance(), MAKEINTRESOURCEA(IDM_REQUEST)));
    request_menu_ = request_menu_resource_ ? GetSubMenu(request_menu_resource_.get(), 0) : nullptr;
    if (!tray_menu_ || !request_menu_) {
        tray_menu_ = request_menu_ = nullptr;
        tray_menu_resource_.reset();
        request_menu_resource_.reset();
        return false;
    }

    state_images_.reset(ImageList_LoadBitmap(instance(), MAKEINTRESOURCEA(IDB_REQUEST_STATES), 16, 1,
                                             RGB(128, 128, 128)));
    if (!state_images_) return false;

    toolbar_ = create_program_toolbar(window(), instance(), toolbar_bitmap_);
    // The main window shows the first five entries; the crawler's two buttons
    // and their separator belong to the auto-get window.
    while (toolbar_ && SendMessageA(toolbar_, TB_BUTTONCOUNT, 0, 0) > 5) {
        SendMessageA(toolbar_, TB_DELETEBUTTON, 5, 0);
    }

    status_bar_ = create_status_bar_with_progress(window(), instance(), kStatusPartEdges, progress_bar_);
    tree_view_ = create_state_tree(window(), instance(), IDC_REQUEST_TREE, toolbar_, status_bar_, state_images_.get());
    tree_view_adapter_ = std::make_unique<Win32RequestTreeView>(tree_view_);
    request_tree_ = std::make_unique<RequestTree>(*tree_view_adapter_);
    return true;
}

bool MainWindow::start_network() {
    if (!start_winsock()) {
        show_warning(window(), "ＷＳＡＳｔａｒｔｕｐ失敗！");
        return false;
    }
    winsock_started_ = true;
    const CommandLine options = parse_command_line(command_line_);
    debug_mode_ = options.debug_mode;
    std::optional<ListenAddress> address = resolve_listen_address(options.addresses, &resolve_ipv4_host);
    if (!address) {
        show_warning(window(), "接続待機ホスト名エラー！");
        return false;
    }
    listen_address_ = *address;
    const ListenError error = listener_.start(window(), address->address, address->port, settings().localPath);
    if (error != ListenError::none) {
        show_warning(window(), listen_error_text(error));
        return false;
    }
    if (options.put) {
        const std::uint32_t a = address->address;
        show_message(window(),
                     format_text("アドレス %d.%d.%d.%d　ポート %d\n\nにて接続待機します", (a >> 24) & 0xFF,
                                 (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF, address->port),
                     kProgramTitle, MB_OK | MB_SYSTEMMODAL);
    }
    publish_listening_address(address->address, address->port);
    return true;
}

void MainWindow::OnSize(WPARAM type, LPARAM size) {
    // Both bars place themselves along their edge of the new client area.
    if (toolbar_) SendMessageA(toolbar_, WM_SIZE, type, size);
    if (status_bar_) SendMessageA(status_bar_, WM_SIZE, type, size);
    layout();
    // Minimised, the program lives on in the tray only.
    if (type == SIZE_MINIMIZED) ShowWindow(window(), SW_HIDE);
}

void MainWindow::layout() {
    if (progress_bar_) {
        RECT part{};
        SendMessageA(status_bar_, SB_GETRECT, 0, reinterpret_cast<LPARAM>(&part));
        MoveWindow(progress_bar_, part.left, part.top, part.right - part.left, part.bottom - part.top, TRUE);
    }
    if (tree_view_) {
        RECT client{};
        GetClientRect(window(), &client);
        const int top = height_of(toolbar_);
        MoveWindow(tree_view_, 0, top, client.right, client.bottom - top - height_of(status_bar_), TRUE);
    }
}

void MainWindow::show_connection_count() {
    if (!status_bar_) return;
    shown_connection_count_ = connections_.count();
    std::string text = format_text("通信ｽﾚｯﾄﾞ %d", connections_.count());
    SendMessageA(status_bar_, SB_SETTEXTA, 1, reinterpret_cast<LPARAM>(text.c_str()));
}

void MainWindow::show_save_folder() {
    if (!status_bar_) return;
    std::string text = format_text("保存ﾌｫﾙﾀﾞ %s", settings().localPath.c_str());
    SendMessageA(status_bar_, SB_SETTEXTA, 2, reinterpret_cast<LPARAM>(text.c_str()));
}

void MainWindow::OnClose() {
    if (autoget_schedule_waiting()) {
        show_warning(window(), "自動取得タイマー作動中です！");
        return;
    }
    if (HWND autoget = autoget_window(); autoget && !IsWindowEnabled(autoget)) {
        // The auto-get window is inside a dialog or question of its own whose
        // caller still holds its nodes; destroying the window now would pull
        // them from under it. A dialog is cancelled, a question waits for its
        // answer, and the close comes back once the window is free again.
        HWND popup = GetLastActivePopup(autoget);
        if (popup && popup != autoget) PostMessageA(popup, WM_COMMAND, IDCANCEL, 0);
        SetTimer(window(), kCloseAgainTimer, 100, nullptr);
        return;
    }
    withdraw_listening_address();
    connections_.set_closing();
    post_to_crawler(CRM_STOP);
    listener_.close();
    connections_.abort_all();
    // The thread that ends last posts WM_CLOSE again, which comes back here.
    if (connections_.count() > 0 || autoget_run_in_progress()) return;

    if (settings().dialUp.support && dialup_is_connected()) {
        if (ask_yes_no(window(), "ダイアルアップ接続を切断しますか？", MB_SYSTEMMODAL)) dialup_hang_up_all();
    }
    if (HWND autoget = autoget_window()) DestroyWindow(autoget);
    DestroyWindow(window());
}

void MainWindow::OnQueryEndSession() {
    // The session ends without the close sequence: the windows save what they
    // keep and the process ends with them (OnDestroy), so that no connection
    // or crawler thread still running can touch what the saves freed.
    ending_session_ = true;
    if (HWND autoget = autoget_window()) DestroyWindow(autoget);
    DestroyWindow(window());
}

void MainWindow::OnDestroy() {
    thaw_request_tree();
    connection_state_timer_.disarm(window());
    delete_tray_icon();

    Settings& s = settings();
    remember_placement(window(), {s.windowPosLeft, s.windowPosTop, s.windowPosRight, s.windowPosBottom});
    save_settings(s);
    cookie_jar_save_and_free();
    credentials_save_and_free();
    if (ending_session_) ExitProcess(0);

    connections_.clear_forced_gets();
    if (tree_view_) TreeView_SetImageList(tree_view_, nullptr, TVSIL_STATE);
    state_images_.reset();
    tray_menu_ = request_menu_ = nullptr;
    tray_menu_resource_.reset();
    request_menu_resource_.reset();

    listener_.close();  // a start-up that failed after listening leaves it open
    if (winsock_started_) stop_winsock();
    winsock_started_ = false;
    install_store_lock(nullptr);
    store_lock_.reset();
    PostQuitMessage(0);
}

void MainWindow::refresh_mode_display() {
    const Settings& s = settings();
    const int icon_id = mode_icon_id(s, connections_.count());
    if (HICON icon = small_icon(icon_id)) {
        shown_icon_id_ = icon_id;
        SendMessageA(window(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
        add_tray_icon_or_update(icon);
    }
    HMENU menu = GetMenu(window());
    check_item(menu, ID_MODE_LOCALIZE, s.localize != 0);
    check_item(menu, ID_MODE_INTERNET, s.internet != 0);
    if (toolbar_) {
        SendMessageA(toolbar_, TB_PRESSBUTTON, ID_MODE_LOCALIZE, MAKELPARAM(s.localize ? TRUE : FALSE, 0));
        SendMessageA(toolbar_, TB_PRESSBUTTON, ID_MODE_INTERNET, MAKELPARAM(s.internet ? TRUE : FALSE, 0));
    }
}

LRESULT MainWindow::OnNotify(NMHDR* header) {
    if (answer_toolbar_tooltip(header)) return 0;
    if (header->hwndFrom == tree_view_) {
        switch (header->code) {
        case TVN_SELCHANGEDA:
        case TVN_SELCHANGEDW:
            if (tree_view_adapter_) tree_view_adapter_->selection_changed();
            break;
        case NM_DBLCLK:
            thaw_request_tree();
            return run_request_command(TreeView_GetSelection(tree_view_), ID_REQUEST_RESERVE) ? 1 : 0;
        case TVN_KEYDOWN:
            thaw_request_tree();
            return OnTreeKeyDown(reinterpret_cast<const NMTVKEYDOWN*>(header)) ? 1 : 0;
        }
    }
    return default_procedure(WM_NOTIFY, header->idFrom, reinterpret_cast<LPARAM>(header));
}

bool MainWindow::OnContextMenu(HWND from, LPARAM point) {
    if (from != tree_view_) return false;
    thaw_request_tree();
    OnTreeContextMenu(point);
    return true;
}

LRESULT MainWindow::OnMenuChar(WPARAM wparam, LPARAM lparam) {
    thaw_request_tree();
    if (debug_mode_ != 0 && settings().log && run_debug_key(wparam, *this)) return kDebugKeyDone;
    return default_procedure(WM_MENUCHAR, wparam, lparam);
}

void MainWindow::close_debug_windows() {
    close_marked_debug_windows(window());
}

void MainWindow::toggle_debug_windows() {
    debug_windows_ = !debug_windows_;
    update_title();
}

void MainWindow::update_title() {
    std::string title = kProgramTitle;
    if (debug_windows_) title += debug_mode_ == 2 ? " (ﾃﾞﾊﾞｯｸﾞ ｵｰﾄｸﾛｰｽﾞ)" : " (ﾃﾞﾊﾞｯｸﾞ)";
    SetWindowTextA(window(), title.c_str());
}

}  // namespace vellum

namespace vellum {

// The connection threads' reports change the request tree many times a
// second; the tree keeps each change at once and shows them on the next tick.
void MainWindow::freeze_request_tree() {
    if (!tree_view_adapter_) return;
    tree_view_adapter_->freeze();
    if (!tree_thaw_timer_.arm(window())) tree_view_adapter_->thaw();  // no timer: show each change as it comes
}

void MainWindow::thaw_request_tree() {
    tree_thaw_timer_.disarm(window());
    if (tree_view_adapter_) tree_view_adapter_->thaw();
}

void MainWindow::connection_count_changed() {
    if (connection_state_timer_.running()) {
        connection_state_pending_ = true;
        return;
    }
    show_connection_state();
    connection_state_timer_.arm(window());  // without a timer each change shows as it comes
}

void MainWindow::OnConnectionStateTick() {
    if (!connection_state_pending_) {
        connection_state_timer_.disarm(window());
        return;
    }
    connection_state_pending_ = false;
    show_connection_state();
}

// The count in the status bar, and the icon that tells whether any
// connection is running.
void MainWindow::show_connection_state() {
    if (connections_.count() != shown_connection_count_) show_connection_count();
    if (mode_icon_id(settings(), connections_.count()) != shown_icon_id_) refresh_mode_display();
}

}  // namespace vellum
