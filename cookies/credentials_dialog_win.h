// The パスワード設定 dialog (template 183): the user picks a host and one of
// its challenges, types a user name and a password, and removes hosts. The
// dialog works on pending edits and removals only; the caller applies them
// to the store when it ends with OK, so キャンセル leaves the store as it was:
//
//   CredentialsDialog dialog(store);
//   if (dialog.run(owner) == IDOK) dialog.edits.apply(store);
//
// UI thread only. The dialog copies the host and challenge texts it shows
// when it fills its lists, so a 401 noted while it is open (which appends to
// the store) changes nothing on screen.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "base/dialog_win.h"
#include "cookies/credentials.h"

namespace vellum {

class CredentialsDialog : public ModalDialog {
public:
    // Out after IDOK: the changes the user made, to be applied in order.
    CredentialEdits edits;

    explicit CredentialsDialog(const CredentialStore& store);

private:
    void on_init() override;
    bool on_ok() override;
    bool on_command(UINT id, UINT code) override;

    void keep_current_edit();
    void select_host(int index);
    void select_challenge(int index);
    void remove_host();
    // Empties and disables the challenge list and both edits.
    void reset_challenge_part();
    std::string whole_text(int id) const;

    const CredentialStore& store_;
    std::vector<std::string> hosts_;       // the host list's items, in list order
    std::vector<std::string> challenges_;  // the challenge list's items
    std::optional<std::size_t> host_;
    std::optional<std::size_t> challenge_;
};

}  // namespace vellum
