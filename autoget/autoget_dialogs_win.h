// The auto-get window's three dialogs as the window calls them: the settings
// of one base URL (dialog 145), the start dialog with its schedule wait
// (173) and the URL search (175). Each works on a copy and hands it back only
// when it ends with its positive button; the window does the rest (stores
// the defaults, replaces the job, starts the run, runs the search).
//
// UI thread only; each runs modal to `owner` and returns when it closes.
// Each is defined beside its dialog (job_settings_dialog_win.cpp,
// start_dialog_win.cpp, url_search_dialog_win.cpp).
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "autoget/autoget_job.h"
#include "autoget/autoget_settings.h"

namespace vellum {

// 自動取得の設定 on a copy of `job`: the edited copy on OK, none on cancel.
std::optional<AutoGetJob> run_job_settings_dialog(HWND owner, const AutoGetJob& job);

// 自動取得スタート on a copy of `start`: the copy when the dialog ends with
// a start (今すぐスタート, or the scheduled time reached), none otherwise.
std::optional<AutoGetStart> run_start_dialog(HWND owner, const AutoGetStart& start);

// URL検索: the search record, and the direction the user chose.
struct UrlSearch {
    std::string text;           // recScan.string
    bool caseSensitive = false; // recScan.uplow
};
enum class SearchDirection { cancelled, down, up };
// On a copy of `search`; unless cancelled the copy is written back.
SearchDirection run_search_dialog(HWND owner, UrlSearch& search);

}  // namespace vellum
