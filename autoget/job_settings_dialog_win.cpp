#include "autoget/job_settings_dialog_win.h"

#include <array>

#include "autoget/autoget_dialogs_win.h"
#include "base/folder_chooser_win.h"
#include "base/format_win.h"
#include "resources/resource.h"

namespace vellum {
namespace {

constexpr int kMaxDepth = 100;
constexpr int kMaxRetries = 10;

struct RetryInterval {
    const char* label;
    int milliseconds;
};
constexpr std::array<RetryInterval, 3> kRetryIntervals{{{"5秒", 5000}, {"30秒", 30000}, {"1分", 60000}}};

constexpr char kFolderTitle[] = "自動取得の保存先を指定してください";

}  // namespace

JobSettingsDialog::JobSettingsDialog(const AutoGetJob& job) : ModalDialog(IDD_AUTOGET_JOB, "自動取得の設定"), record(job) {}

void JobSettingsDialog::fill_lists() {
    auto add = [this](int id, const std::string& text) {
        send_item(id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    };
    for (int depth = 0; depth <= kMaxDepth; ++depth) add(IDC_JOB_DEPTH, format_text("%d", depth));
    for (int retries = 0; retries <= kMaxRetries; ++retries) add(IDC_JOB_RETRY_COUNT, format_text("%d", retries));
    for (const RetryInterval& interval : kRetryIntervals) add(IDC_JOB_RETRY_INTERVAL, interval.label);
}

void JobSettingsDialog::on_init() {
    fill_lists();
    set_item_text(IDC_JOB_BASE_URL, record.baseUrl);
    set_item_text(IDC_JOB_SAVE_FOLDER, record.saveFolder);
    // A value outside a list's range selects nothing (CB_SETCURSEL with -1).
    auto select = [this](int id, int index, int last) {
        send_item(id, CB_SETCURSEL, index >= 0 && index <= last ? index : -1);
    };
    select(IDC_JOB_DEPTH, record.maxDepth, kMaxDepth);
    select(IDC_JOB_RETRY_COUNT, record.retryCount, kMaxRetries);
    int interval = -1;
    for (std::size_t i = 0; i < kRetryIntervals.size(); ++i) {
        if (kRetryIntervals[i].milliseconds == record.retryInterval) interval = static_cast<int>(i);
    }
    select(IDC_JOB_RETRY_INTERVAL, interval, static_cast<int>(kRetryIntervals.size()) - 1);

    if (record.restrictions && !record.restrictions->empty()) {
        set_item_text(IDC_JOB_RESTRICTIONS, entry_list_text(record.restrictions));
    } else if (std::optional<std::string> restriction = default_restriction(record.baseUrl)) {
        // A job that skips every hyperlink is shown the restriction a new
        // reservation would get, so that OK gives it back.
        set_item_text(IDC_JOB_RESTRICTIONS, *restriction + "\r\n");
    }
    set_checked(IDC_JOB_RESTRICT_ALL, record.restrictAll != 0);
    set_checked(IDC_JOB_REQUISITES, record.pageRequisites != 0);
    set_item_text(IDC_JOB_SKIP_EXTENSIONS, entry_list_text(record.skipExtensions));
    set_checked(IDC_JOB_UPDATE_NEVER, record.updateCheck == 0);
    set_checked(IDC_JOB_UPDATE_HTML, record.updateCheck == 1);
    set_checked(IDC_JOB_UPDATE_ALWAYS, record.updateCheck == 2);
}

std::string JobSettingsDialog::edit_text(int id) const {
    const auto length = static_cast<std::size_t>(send_item(id, WM_GETTEXTLENGTH));
    return item_text(id, length);
}

bool JobSettingsDialog::on_ok() {
    record.skipExtensions = entry_list_from_text(edit_text(IDC_JOB_SKIP_EXTENSIONS));
    record.restrictions = entry_list_from_text(edit_text(IDC_JOB_RESTRICTIONS));
    return true;
}

void JobSettingsDialog::OnListChosen(int id) {
    const auto index = static_cast<int>(send_item(id, CB_GETCURSEL));
    if (index < 0) return;
    switch (id) {
    case IDC_JOB_DEPTH: record.maxDepth = index; break;
    case IDC_JOB_RETRY_COUNT: record.retryCount = index; break;
    case IDC_JOB_RETRY_INTERVAL:
        if (static_cast<std::size_t>(index) < kRetryIntervals.size()) {
            record.retryInterval = kRetryIntervals[static_cast<std::size_t>(index)].milliseconds;
        }
        break;
    }
}

void JobSettingsDialog::pick_folder(const std::optional<std::string>& start) {
    std::string chosen;
    if (choose_folder(dialog(), kFolderTitle, start, chosen) != kFolderChosen) return;
    // An item without a file-system path (the computer, the network) is no
    // place to record into: the job keeps its folder.
    if (chosen.empty()) return;
    record.saveFolder = chosen;
    set_item_text(IDC_JOB_SAVE_FOLDER, record.saveFolder);
}

bool JobSettingsDialog::on_command(UINT id, UINT code) {
    switch (id) {
    case IDC_JOB_DEPTH:
    case IDC_JOB_RETRY_COUNT:
    case IDC_JOB_RETRY_INTERVAL:
        if (code != CBN_SELCHANGE) return false;
        OnListChosen(static_cast<int>(id));
        return true;
    case IDC_JOB_RESTRICT_ALL:
        if (code != BN_CLICKED) return false;
        record.restrictAll = is_checked(IDC_JOB_RESTRICT_ALL) ? 1 : 0;
        return true;
    case IDC_JOB_REQUISITES:
        if (code != BN_CLICKED) return false;
        record.pageRequisites = is_checked(IDC_JOB_REQUISITES) ? 1 : 0;
        return true;
    case IDC_JOB_UPDATE_NEVER:
    case IDC_JOB_UPDATE_HTML:
    case IDC_JOB_UPDATE_ALWAYS:
        if (code != BN_CLICKED) return false;
        record.updateCheck = id == IDC_JOB_UPDATE_NEVER ? 0 : id == IDC_JOB_UPDATE_HTML ? 1 : 2;
        return true;
    case IDC_JOB_CHANGE_FOLDER:
        if (code != BN_CLICKED) return false;
        pick_folder(record.saveFolder);
        return true;
    }
    return false;
}

INT_PTR JobSettingsDialog::on_message(UINT message, WPARAM, LPARAM) {
    if (message != kReopenFolderMessage) return FALSE;
    pick_folder(std::nullopt);
    return TRUE;
}

std::optional<AutoGetJob> run_job_settings_dialog(HWND owner, const AutoGetJob& job) {
    JobSettingsDialog dialog(job);
    if (dialog.run(owner) != IDOK) return std::nullopt;
    return std::move(dialog.record);
}

}  // namespace vellum
