// The auto-get window (class VELLUM_REC): a top-level window created hidden at
// program start and living until the program ends; closing it only hides it.
// It shows the page tree (autoget/page_tree.h) in its tree view, starts and
// stops the crawler thread (autoget/crawler_thread_win.h) and serves it: it
// hands out the next node, records each result in the tree, runs the retry
// wait and looks up credentials. The main window reaches it through the free
// functions below (reservations, its command 40148, the close sequence, the
// deferral of its request-tree commands).
//
// The class is split by concern: autoget_window.cpp (the window, its
// controls and the operations other windows use), autoget_window_commands.cpp
// (the command table, start and stop), autoget_window_crawler.cpp (the
// crawler's messages and the retry wait), autoget_window_tree.cpp (the tree's
// context menu and keys).
//
// UI thread only. There is one auto-get window in the process; the free
// functions act on it and do nothing while it does not exist. The window owns
// its AutoGetWindow object (base/window_win.h).
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "autoget/autoget_host_win.h"
#include "autoget/autoget_settings.h"
#include "autoget/crawler_thread_win.h"
#include "autoget/page_tree.h"
#include "autoget/page_tree_view_win.h"
#include "base/parked_message_win.h"
#include "base/thaw_timer_win.h"
#include "base/win_handles.h"
#include "base/window_win.h"
#include "http/http_message.h"

namespace vellum {

inline constexpr char kAutoGetWindowClass[] = "VELLUM_REC";
// The retry wait's timer.
inline constexpr UINT_PTR kRetryTimerId = 102;
// During a run the page tree is drawn at most this often (see thaw_tree).
inline constexpr UINT_PTR kTreeThawTimerId = 0x5650;
inline constexpr UINT kTreeThawMs = 100;

inline constexpr char kStopQuestion[] = "ただちに停止しますか？\n\n「いいえ」で現在のファイルを取得後に停止します。";
inline constexpr char kRunDoneMessage[] = "自動取得を終了しました。";
inline constexpr char kLinkRunDoneMessage[] = "リンク構造取得を終了しました。";
inline constexpr char kRetryTimerFailedMessage[] = "リトライ間隔のタイマーがセットできません";
inline constexpr char kUnknownDataMessage[] = "データが不明です";

// Registers the class; true also when it is registered already.
bool register_autoget_window_class(HINSTANCE instance);
// Creates the window, not shown, keeping its place and its defaults in
// `settings` (the program-wide record) and asking `host` for the rest of
// the program; both outlive the window. nullptr on failure.
HWND create_autoget_window(HINSTANCE instance, AutoGetSettings& settings, AutoGetHost& host);

// The window, or nullptr.
HWND autoget_window();

// A crawler run is in progress.
bool autoget_run_in_progress();
// Posts a thread message to the crawler thread; nothing when no run is in
// progress. The stop request posted while the program closes also ends the
// run's waits at once (crawler_thread_win.h).
void post_to_crawler(UINT message, WPARAM wparam = 0, LPARAM lparam = 0);

// Command 40148: shows the window (restored when minimised) in the foreground.
void show_autoget_window();

// While the main window's request-tree commands run, the window's crawler
// messages that could change its tree are parked; leaving replays the one
// parked message.
void autoget_enter_defer();
void autoget_leave_defer();
bool autoget_deferring();

// Reserves `request` as a new base URL whose pages are recorded under
// `saveFolder`: warns (system-modal) about a method other than GET and asks
// before a URL that already is a base URL, with `owner` owning the boxes.
// ReserveOutcome::refused also when there is no auto-get window.
ReserveOutcome autoget_reserve(HWND owner, const ProxyRequest& request, std::string_view saveFolder);

class AutoGetWindow : public Window {
public:
    // The one window's object, or nullptr.
    static AutoGetWindow* existing();

    bool run_in_progress() const { return crawler_.has_value(); }
    void post_to_crawler(UINT message, WPARAM wparam, LPARAM lparam);
    void show();
    void enter_defer();
    void leave_defer();
    bool deferring() const { return deferral_.active(); }
    ReserveOutcome reserve(HWND owner, const ProxyRequest& request, std::string_view saveFolder);

    PageTree& page_tree() { return *tree_; }
    // The node the crawler was handed last; nullptr between runs.
    PageNode* current_node() const { return current_; }
    HWND toolbar() const { return toolbar_; }
    HWND status_bar() const { return status_bar_; }
    HWND progress_bar() const { return progress_bar_; }
    HWND tree_view() const { return tree_view_; }
    Win32PageTreeView& tree_adapter() { return *tree_view_adapter_; }

private:
    AutoGetWindow(AutoGetSettings& settings, AutoGetHost& host) : settings_(settings), host_(host) {}
    ~AutoGetWindow() override;
    LRESULT on_message(UINT message, WPARAM wparam, LPARAM lparam) override;

    // The window and its controls (autoget_window.cpp).
    void OnCreate();
    void OnSize(WPARAM type, LPARAM size);
    void OnDestroy();
    LRESULT OnNotify(NMHDR* header);
    LRESULT OnCopyData(const COPYDATASTRUCT& request);
    void create_controls();
    void layout();

    // Commands (autoget_window_commands.cpp).
    bool OnCommand(UINT id);
    void OnStart();
    void OnStop();
    void OnPasswords();
    void OnJobSettings();
    void OnSkip();
    void OnCopy();
    void OnSearch();
    void OnBrowse();
    void OnReset();
    void OnDelete();
    void show_run_state(bool running);
    void enable_stop(bool enabled);
    void show_tree_busy();

    // The crawler's messages and the retry wait (autoget_window_crawler.cpp).
    void OnNext(WPARAM wparam, LPARAM lparam);
    void OnResult(WPARAM wparam, LPARAM lparam);
    void OnRetry(WPARAM wparam, LPARAM lparam);
    void OnTimer(WPARAM timer);
    void OnAuth(WPARAM wparam, LPARAM lparam);
    void OnEnd(WPARAM wparam, LPARAM lparam);
    void OnProgress(WPARAM percent);
    void reply_to_crawler(UINT message, WPARAM wparam);
    void kill_retry_timer();
    void end_retry_wait_now();
    void freeze_tree();
    void thaw_tree();

    // The tree's context menu and keys (autoget_window_tree.cpp).
    bool OnTreeNotify(NMHDR* header, LRESULT& result);
    bool OnTreeKeyDown(const NMTVKEYDOWN* key);
    bool OnContextMenu(HWND from, LPARAM point);
    bool acts_on(const PageNode* node) const;
    bool run_on_node(PageNode* node, UINT command);
    bool run_on_node(PageNode* node, const std::function<void()>& action);
    void search_again(PageNode* from, bool upward);

    // Everything below is the UI thread's alone.
    AutoGetSettings& settings_;  // the program-wide record; outlives the window
    AutoGetHost& host_;          // outlives the window
    HWND toolbar_ = nullptr;
    HWND status_bar_ = nullptr;
    HWND progress_bar_ = nullptr;
    HWND tree_view_ = nullptr;
    UniqueBitmap toolbar_bitmap_;
    UniqueImageList state_images_;
    UniqueMenu tree_menu_resource_;
    HMENU tree_menu_ = nullptr;  // first submenu of the tree menu resource
    std::unique_ptr<Win32PageTreeView> tree_view_adapter_;
    std::unique_ptr<PageTree> tree_;

    // The run: set when the thread starts, cleared at its AGM_END once it
    // has ended.
    std::optional<CrawlerThread> crawler_;
    // Raised for the crawler thread, which reads them (crawler_thread_win.h).
    CrawlerSignals signals_;
    // The node the crawler was handed by the last AGM_NEXT or AGM_RETRY
    // answer; nullptr between runs. Never deleted while set: every command
    // that deletes refuses a subtree holding it.
    PageNode* current_ = nullptr;
    // Timer 102 runs (the retry wait).
    bool retry_timer_set_ = false;
    // While it runs the tree is frozen and shows its changes on its next tick.
    ThawTimer thaw_timer_{kTreeThawTimerId, kTreeThawMs};
    // The node a context-menu or key command acts on; set just before the
    // command and cleared after it.
    PageNode* menu_node_ = nullptr;
    // The crawler's one outstanding message while the tree must not change.
    // Interactions may nest (the main window's command during the stop
    // question): only the outermost one ends the deferral.
    Deferral deferral_;
    int defer_depth_ = 0;

    friend HWND create_autoget_window(HINSTANCE instance, AutoGetSettings& settings, AutoGetHost& host);
};

}  // namespace vellum
