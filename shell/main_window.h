// The main window (class VELLUM): the hub through which the user and every
// worker thread reach the program's shared state. It owns the toolbar, the
// status bar with its progress bar, the request tree, the tray icon, the
// listening socket and the registry of live connections; it answers the
// connection threads' requests (proxy/ui_requests.h for the payloads) and
// runs the close sequence that waits for every thread before the program
// ends.
//
// UI thread only. There is one main window in the process; main_window()
// names it for the other windows of the UI thread. Connection threads find it
// through their ConnectionRecord (main_window), filled in when the connection
// is accepted, and never call anything declared here. The window owns its
// MainWindow object (base/window_win.h).
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

#include "base/debug_keys_win.h"
#include "base/thaw_timer_win.h"
#include "base/win_handles.h"
#include "base/window_win.h"
#include "proxy/connection_registry_win.h"
#include "proxy/listener_win.h"
#include "store/store_lock_win.h"
#include "proxy/ui_requests.h"
#include "shell/command_line.h"
#include "shell/request_tree.h"
#include "shell/request_tree_view_win.h"

namespace vellum {

inline constexpr char kMainWindowClass[] = "VELLUM";

// Registers the class; true also when it is registered already.
bool register_main_window_class(HINSTANCE instance);
// Creates the main window (not shown) with the program's command line. The
// window may already be closing when this returns: a failed start-up step
// posts WM_CLOSE. nullptr when the window could not be created.
HWND create_main_window(HINSTANCE instance, const std::string& command_line);

// The main window, or nullptr.
HWND main_window();

class MainWindow : public Window, public DebugKeyTarget {
public:
    static MainWindow* of(HWND window) { return static_cast<MainWindow*>(Window::of(window)); }

    HWND toolbar() const { return toolbar_; }
    HWND status_bar() const { return status_bar_; }
    HWND progress_bar() const { return progress_bar_; }
    HWND tree_view() const { return tree_view_; }

    ConnectionRegistry& connections() { return connections_; }
    RequestTree& request_tree() { return *request_tree_; }
    int debug_mode() const { return debug_mode_; }
    bool debug_windows() const { return debug_windows_; }
    bool closing() const { return connections_.closing(); }
    // Where the proxy listens (host byte order); valid once listening.
    const ListenAddress& listen_address() const { return listen_address_; }
    // The resource id of the mode icon shown now (shell/mode_rules.h).
    int shown_icon_id() const { return shown_icon_id_; }

    // Brings icon, tray icon, menu check marks and toolbar in line with the
    // modes and the number of live connections.
    void refresh_mode_display();
    // The debug keys (Alt+D, Alt+L) as the main window and the connection
    // debug windows share them.
    void close_debug_windows() override;
    void toggle_debug_windows() override;

private:
    explicit MainWindow(std::string command_line);
    ~MainWindow() override;
    LRESULT on_message(UINT message, WPARAM wparam, LPARAM lparam) override;

    // Window messages (main_window.cpp).
    void OnCreate();
    void OnSize(WPARAM type, LPARAM size);
    void OnClose();
    void OnDestroy();
    void OnQueryEndSession();
    LRESULT OnNotify(NMHDR* header);
    bool OnContextMenu(HWND from, LPARAM point);
    LRESULT OnMenuChar(WPARAM wparam, LPARAM lparam);
    bool start_network();
    bool create_controls();
    void layout();
    void show_connection_count();
    void connection_count_changed();
    void OnConnectionStateTick();
    void show_connection_state();
    void freeze_request_tree();
    void thaw_request_tree();
    void show_save_folder();

    // Commands (main_window_commands.cpp).
    bool OnCommand(UINT id);
    void OnExit();
    void OnToggleInternet();
    void OnToggleLocalize();
    void OnChooseSaveFolder();
    void OnDialUpSettings();
    void OnOpenAutoGet();
    void OnDiscardCookies();
    void OnProxySettings();
    void OnToggleShowAutoGetRequests();
    void OnToggleLogDetail();
    void OnHelp();
    void OnHomePage();
    void OnWinsockInfo();
    void OnVersion();
    void OnOpenMainWindow();
    void OnReserveRequest();
    void OnCopyRequestUrl();
    void OnShowRequestLog();
    // The save-folder chooser, from 40043 (at the save folder) or from its
    // own re-open request (MWM_REOPEN_FOLDER, no start folder).
    void choose_save_folder(const std::optional<std::string>& start);
    // The request tree's mouse, keys and context menu.
    bool run_request_command(HTREEITEM item, UINT command);
    bool OnTreeKeyDown(const NMTVKEYDOWN* key);
    bool OnTreeContextMenu(LPARAM point);
    void begin_request_command(RequestNode* node);
    void end_request_command(RequestNode* node);

    // Messages of the tray, the log windows and the connection threads
    // (main_window_requests.cpp).
    LRESULT OnTray(LPARAM mouse_message);
    void show_tray_menu();
    LRESULT OnOpenLog(const OpenLog& request);
    void OnProgress(const ProgressReport& report);
    void OnClientAccepted(const AcceptedSocket& accepted);
    void OnConnectionDone(const ConnectionDone& done);
    void OnRequestAdd(const RequestAdd& request);
    void OnRequestDone(const RequestDone& request);
    void OnRequestBegun(std::unique_ptr<RequestBegun> begun);
    void OnRequestEnded(std::unique_ptr<RequestEnded> ended);
    // The request's outcome on its node, however it was reported.
    void finish_in_tree(RequestNode* node, RequestResult result);
    // Whether a new request of a crawler's connection or another one goes
    // into the request tree now.
    bool request_shown(bool crawler_connection) const;
    void OnCookieGet(const CookieGet& request);
    void OnCookieSet(const CookieSet& request);
    void OnAuthNote(const AuthNote& request);
    void OnQueueGetOnly(ForcedGet request);
    void OnReserve(const Reservation& request);
    std::unique_ptr<ConnectionRecord> make_record() const;
    void park(ConnectionRecord* record, ParkedMessage message);
    void park(std::unique_ptr<RequestBegun> begun);
    void park(std::unique_ptr<RequestEnded> ended);
    void replay_parked();
    void add_tray_icon_or_update(HICON icon);
    void delete_tray_icon();
    void update_title();

    std::string command_line_;
    std::unique_ptr<StoreLock> store_lock_;
    HWND toolbar_ = nullptr;
    HWND status_bar_ = nullptr;
    HWND progress_bar_ = nullptr;
    HWND tree_view_ = nullptr;
    UniqueBitmap toolbar_bitmap_;
    UniqueImageList state_images_;
    UniqueMenu tray_menu_resource_;
    UniqueMenu request_menu_resource_;
    HMENU tray_menu_ = nullptr;     // first submenu of the tray menu resource
    HMENU request_menu_ = nullptr;  // first submenu of the request menu resource
    std::unique_ptr<Win32RequestTreeView> tree_view_adapter_;
    // While it runs the request tree is frozen until its next tick: while
    // requests come and go the tree is drawn at most every 100 ms.
    ThawTimer tree_thaw_timer_{0x5651, 100};
    // The connection count and the busy icon follow connections that come
    // and go many times a second: a change is shown at once, and those that
    // follow within its tick wait for it.
    ThawTimer connection_state_timer_{0x5652, 100};
    bool connection_state_pending_ = false;
    int shown_connection_count_ = -1;
    std::unique_ptr<RequestTree> request_tree_;
    ConnectionRegistry connections_;
    Listener listener_;
    bool winsock_started_ = false;
    ListenAddress listen_address_;
    int debug_mode_ = 0;
    bool debug_windows_ = false;
    bool tray_icon_added_ = false;
    int shown_icon_id_ = 0;
    bool deferring_ = false;
    // What a request-tree command put off, oldest first: a record holding a
    // parked request that waits for its answer, or a posted tree report.
    using ParkedWork =
        std::variant<ConnectionRecord*, std::unique_ptr<RequestBegun>, std::unique_ptr<RequestEnded>>;
    std::vector<ParkedWork> parked_;
    // The nodes of the requests reported by MWM_REQUEST_BEGUN that have not ended.
    std::unordered_map<RequestTicket, RequestNode*> open_requests_;
    RequestNode* selected_request_ = nullptr;
    bool ending_session_ = false;

    friend HWND create_main_window(HINSTANCE instance, const std::string& command_line);
};

}  // namespace vellum
