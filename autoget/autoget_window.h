// The auto-get window (class VELLUM_REC): a top-level window created hidden at
// program start and living until the program ends; closing it only hides it.
// It will show the page tree and run the crawler; for now it keeps its place
// on the screen and offers the main window the few operations it needs.
//
// UI thread only. There is one auto-get window in the process; the free
// functions below act on it and do nothing while it does not exist. The
// window owns its AutoGetWindow object (base/window_win.h).
#pragma once

#include <windows.h>

#include "autoget/autoget_settings.h"
#include "base/parked_message_win.h"
#include "base/window_win.h"

namespace vellum {

inline constexpr char kAutoGetWindowClass[] = "VELLUM_REC";

// Registers the class; true also when it is registered already.
bool register_autoget_window_class(HINSTANCE instance);
// Creates the window, not shown, keeping its place and its defaults in
// `settings` (the program-wide record, which outlives the window). nullptr on
// failure.
HWND create_autoget_window(HINSTANCE instance, AutoGetSettings& settings);

// The window, or nullptr.
HWND autoget_window();

// A crawler run is in progress.
bool autoget_run_in_progress();
// Posts a thread message to the crawler thread; nothing when no run is in progress.
void post_to_crawler(UINT message, WPARAM wparam = 0, LPARAM lparam = 0);

// Command 40148: shows the window (restored when minimised) in the foreground.
void show_autoget_window();

// While the main window's request-tree commands run, the window's crawler
// messages that could change its tree are parked; leaving replays the one
// parked message.
void autoget_enter_defer();
void autoget_leave_defer();
bool autoget_deferring();

class AutoGetWindow : public Window {
public:
    // The one window's object, or nullptr.
    static AutoGetWindow* instance();

    bool run_in_progress() const { return crawler_thread_ != nullptr; }
    void post_to_crawler(UINT message, WPARAM wparam, LPARAM lparam) const;
    void show();
    // The deferral the main window's request-tree commands share.
    Deferral& deferral() { return deferral_; }

private:
    explicit AutoGetWindow(AutoGetSettings& settings) : settings_(settings) {}
    ~AutoGetWindow() override;
    LRESULT on_message(UINT message, WPARAM wparam, LPARAM lparam) override;
    void OnCreate();
    void OnDestroy();

    // The program-wide settings record; the window reads its defaults and
    // stores its place there. Outlives the window.
    AutoGetSettings& settings_;
    // Written by the UI thread alone: set when a run starts, cleared when
    // the crawler thread has ended.
    HANDLE crawler_thread_ = nullptr;
    DWORD crawler_thread_id_ = 0;
    // The crawler's one outstanding message while the window must not change.
    Deferral deferral_;

    friend HWND create_autoget_window(HINSTANCE instance, AutoGetSettings& settings);
};

}  // namespace vellum
