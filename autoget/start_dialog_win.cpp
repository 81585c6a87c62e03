#include "autoget/start_dialog_win.h"

#include <optional>

#include "autoget/autoget_dialogs_win.h"
#include "autoget/autoget_job.h"
#include "autoget/start_schedule_win.h"
#include "base/clock.h"
#include "base/format_win.h"
#include "resources/resource.h"

namespace vellum {
namespace {

constexpr UINT_PTR kScheduleTimerId = 100;
constexpr UINT kScheduleTickMs = 1000;

static_assert(StartDialog::kStarted == IDC_START_NOW);

// The dialog whose schedule wait runs; one at most, as the dialog is modal
// to the one auto-get window.
const StartDialog* g_waiting = nullptr;

// The local time of day now, as the clock seam tells it.
SYSTEMTIME local_time_now() {
    const FileTime now = current_time_utc();
    const FILETIME file_time{static_cast<DWORD>(now), static_cast<DWORD>(now >> 32)};
    SYSTEMTIME utc{}, local{};
    FileTimeToSystemTime(&file_time, &utc);
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) return utc;
    return local;
}

}  // namespace

bool autoget_schedule_waiting() {
    return g_waiting != nullptr;
}

StartDialog::StartDialog(const AutoGetStart& start) : ModalDialog(IDD_AUTOGET_START, "自動取得スタート"), record(start) {}

StartDialog::~StartDialog() {
    if (g_waiting == this) g_waiting = nullptr;
}

void StartDialog::fill_lists() {
    for (int hour = 0; hour < 24; ++hour) {
        send_item(IDC_START_HOUR, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(format_text("%d時", hour).c_str()));
    }
    for (int minute = 0; minute < 60; ++minute) {
        send_item(IDC_START_MINUTE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(format_text("%d分", minute).c_str()));
    }
}

void StartDialog::on_init() {
    fill_lists();
    // An hour or minute out of range (a hand-edited registry) selects
    // nothing and can never come round; the user picks one.
    send_item(IDC_START_HOUR, CB_SETCURSEL, record.hour < 24 ? record.hour : static_cast<WPARAM>(-1));
    send_item(IDC_START_MINUTE, CB_SETCURSEL, record.minute < 60 ? record.minute : static_cast<WPARAM>(-1));
    set_checked(IDC_START_LINK_ONLY, record.linkOnly != 0);
    set_checked(IDC_START_HANG_UP, record.hangUp != 0);
    set_item_text(IDC_START_EXTENSIONS, record.linkExtensions.join(/*add_crlf=*/true));
    enable_extensions();
}

void StartDialog::enable_extensions() {
    enable_item(IDC_START_EXT_LABEL, record.linkOnly != 0);
    enable_item(IDC_START_EXTENSIONS, record.linkOnly != 0);
}

void StartDialog::start_now() {
    if (waiting_) end_wait();
    const auto length = static_cast<std::size_t>(send_item(IDC_START_EXTENSIONS, WM_GETTEXTLENGTH));
    record.linkExtensions = entry_list_from_text(item_text(IDC_START_EXTENSIONS, length));
    end(kStarted);
}

void StartDialog::start_wait() {
    if (waiting_ || !SetTimer(dialog(), kScheduleTimerId, kScheduleTickMs, nullptr)) return;
    waiting_ = true;
    g_waiting = this;
    enable_item(IDC_START_SCHEDULED, false);
    const SYSTEMTIME now = local_time_now();
    show_clock(now.wHour, now.wMinute, now.wSecond);
}

void StartDialog::end_wait() {
    KillTimer(dialog(), kScheduleTimerId);
    waiting_ = false;
    if (g_waiting == this) g_waiting = nullptr;
    enable_item(IDC_START_SCHEDULED, true);
    set_item_text(IDC_START_CLOCK, "");
}

void StartDialog::show_clock(int hour, int minute, int second) {
    set_item_text(IDC_START_CLOCK, format_text("%02d:%02d:%02d", hour, minute, second));
}

void StartDialog::OnTick() {
    if (!waiting_) return;
    const SYSTEMTIME now = local_time_now();
    show_clock(now.wHour, now.wMinute, now.wSecond);
    // Seconds don't count: the first tick inside the chosen minute starts.
    if (now.wHour == record.hour && now.wMinute == record.minute) start_now();
}

bool StartDialog::on_ok() {
    // Enter with the focus on a control that is no button: the default
    // button's command.
    start_now();
    return false;
}

bool StartDialog::on_cancel() {
    if (!waiting_) return true;
    end_wait();
    return false;
}

bool StartDialog::on_command(UINT id, UINT code) {
    switch (id) {
    case IDC_START_NOW:
        start_now();
        return true;
    case IDC_START_SCHEDULED:
        start_wait();
        return true;
    case IDC_START_LINK_ONLY:
        if (code != BN_CLICKED) return false;
        record.linkOnly = is_checked(IDC_START_LINK_ONLY) ? 1 : 0;
        enable_extensions();
        return true;
    case IDC_START_HANG_UP:
        if (code != BN_CLICKED) return false;
        record.hangUp = is_checked(IDC_START_HANG_UP) ? 1 : 0;
        return true;
    case IDC_START_HOUR:
    case IDC_START_MINUTE: {
        if (code != CBN_SELCHANGE) return false;
        const LRESULT index = send_item(static_cast<int>(id), CB_GETCURSEL);
        if (index < 0) return true;
        (id == IDC_START_HOUR ? record.hour : record.minute) = static_cast<std::uint32_t>(index);
        return true;
    }
    }
    return false;
}

INT_PTR StartDialog::on_message(UINT message, WPARAM wparam, LPARAM) {
    if (message == WM_TIMER && wparam == kScheduleTimerId) {
        OnTick();
        return TRUE;
    }
    if (message == WM_DESTROY && waiting_) {
        KillTimer(dialog(), kScheduleTimerId);
        waiting_ = false;
        if (g_waiting == this) g_waiting = nullptr;
    }
    return FALSE;
}

std::optional<AutoGetStart> run_start_dialog(HWND owner, const AutoGetStart& start) {
    StartDialog dialog(start);
    if (dialog.run(owner) != StartDialog::kStarted) return std::nullopt;
    return std::move(dialog.record);
}

}  // namespace vellum
