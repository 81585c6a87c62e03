// The dial-up settings dialog (resource 184, command 40170): whether the
// proxy dials before it goes online, and which phone-book entry with which
// user name and password. The entries and their saved user names and
// passwords come from the phone book (proxy/dialup_win.h) when it opens.
//
// Works on a copy of the settings' DialUpSettings; the caller takes the copy
// back only when run() gives IDOK:
//
//   DialUpDialog dialog(settings().dialUp);
//   if (dialog.run(window) == IDOK) settings().dialUp = dialog.record;
//
// UI thread.
#pragma once

#include <windows.h>

#include <vector>

#include "base/dialog_win.h"
#include "proxy/connection_settings.h"
#include "proxy/ras_api_win.h"

namespace vellum {

class DialUpDialog : public ModalDialog {
public:
    // In: what the dialog shows; out after IDOK: what the user set. Opening
    // and choosing an entry already change it, as the dialog shows them.
    DialUpSettings record;

    explicit DialUpDialog(const DialUpSettings& current);

private:
    void on_init() override;
    bool on_ok() override;
    bool on_command(UINT id, UINT code) override;
    void read_phone_book();
    void enable_entry();
    // Shows the entry's saved user name and password and takes all three.
    void take_entry(const RasDialParamsRecord& entry);
    void show_login(const std::string& user, const std::string& password);
    void OnEntryChosen();

    std::vector<RasDialParamsRecord> entries_;  // in phone-book order, as listed
};

}  // namespace vellum
