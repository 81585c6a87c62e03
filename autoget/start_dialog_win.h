// The start dialog (dialog 173, "自動取得スタート"): start a run now, or wait
// in the dialog until a time of day and start it then; with the options of
// the run (link structure only and its extensions, hang up at the end).
//
// Works on a copy of the AutoGetStart settings; the lists and check boxes
// change the copy at once, a start reads the extension edit into it and
// ends the dialog with kStarted. キャンセル ends the schedule wait when it
// runs and the dialog otherwise; nothing starts then.
//
// The schedule wait is a one-second timer on the dialog that compares the
// local time of day (through the clock seam, base/clock.h) with the chosen
// hour and minute; the run starts on the first tick of that minute, today or
// tomorrow. While it waits the program refuses to close
// (autoget/start_schedule_win.h). UI thread.
#pragma once

#include <windows.h>

#include "autoget/autoget_settings.h"
#include "base/dialog_win.h"

namespace vellum {

class StartDialog : public ModalDialog {
public:
    // What run() gives when the dialog ends with a start.
    static constexpr INT_PTR kStarted = 3;

    AutoGetStart record;  // in: the saved options; out after kStarted: the run's

    explicit StartDialog(const AutoGetStart& start);
    ~StartDialog() override;

    // This dialog is in its schedule wait.
    bool waiting() const { return waiting_; }

private:
    void on_init() override;
    bool on_ok() override;
    bool on_cancel() override;
    bool on_command(UINT id, UINT code) override;
    INT_PTR on_message(UINT message, WPARAM wparam, LPARAM lparam) override;

    void fill_lists();
    void enable_extensions();
    void start_now();
    void start_wait();
    void end_wait();
    void OnTick();
    void show_clock(int hour, int minute, int second);

    bool waiting_ = false;
};

}  // namespace vellum
