// The URL search dialog (dialog 175, "URL検索"): the text to look for in the
// page tree's URLs, whether case counts, and the direction (↓ or ↑).
//
// Works on a copy of the search record; either direction button takes the
// edit and the check box into the copy and ends the dialog with kDown or
// kUp, キャンセル with IDCANCEL and the copy untouched. The window runs the
// search itself (run_search_dialog is what it calls). UI thread.
#pragma once

#include <windows.h>

#include "autoget/autoget_dialogs_win.h"
#include "base/dialog_win.h"

namespace vellum {

class UrlSearchDialog : public ModalDialog {
public:
    static constexpr INT_PTR kDown = 1069;
    static constexpr INT_PTR kUp = 1068;

    UrlSearch record;  // in: the last search; out after kDown/kUp: this one

    explicit UrlSearchDialog(const UrlSearch& search);

private:
    void on_init() override;
    bool on_ok() override;
    bool on_command(UINT id, UINT code) override;
    void finish(INT_PTR direction);
};

}  // namespace vellum
