// The settings of one base URL (dialog 145, "自動取得の設定"): depth, save
// folder, restrictions, skip extensions, update check, retries and whether
// to fetch what pages need to be displayed, of the AutoGetJob that every node of the base URL shares.
//
// Works on a copy of the job. The lists, the check box and the radio buttons
// change the copy at once; OK builds the two entry lists from their edits;
// キャンセル leaves the caller's job as it was. The caller takes the copy
// back only when run() gives IDOK (run_job_settings_dialog does this).
//
// UI thread. The folder chooser it opens posts its re-open request to this
// dialog, which answers it while it is open.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "autoget/autoget_job.h"
#include "base/dialog_win.h"

namespace vellum {

class JobSettingsDialog : public ModalDialog {
public:
    AutoGetJob record;  // in: the job shown; out after IDOK: the job as the user set it

    explicit JobSettingsDialog(const AutoGetJob& job);

private:
    void on_init() override;
    bool on_ok() override;
    bool on_command(UINT id, UINT code) override;
    INT_PTR on_message(UINT message, WPARAM wparam, LPARAM lparam) override;

    void fill_lists();
    void OnListChosen(int id);
    // The chooser from `start`, or (a re-open) where it closed itself.
    void pick_folder(const std::optional<std::string>& start);
    // The whole text of a multi-line edit.
    std::string edit_text(int id) const;
};

}  // namespace vellum
