// The auto-get window's dialogs in a build without them: the settings and
// the search are never changed, and a run starts at once with the saved
// start options, as if 今すぐスタート had been pressed.
#include "autoget/autoget_dialogs_win.h"

namespace vellum {

std::optional<AutoGetJob> run_job_settings_dialog(HWND, const AutoGetJob&) {
    return std::nullopt;
}

std::optional<AutoGetStart> run_start_dialog(HWND, const AutoGetStart& start) {
    return start;
}

SearchDirection run_search_dialog(HWND, UrlSearch&) {
    return SearchDirection::cancelled;
}

}  // namespace vellum
