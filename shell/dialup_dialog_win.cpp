#include "shell/dialup_dialog_win.h"

#include "proxy/dialup_win.h"
#include "resources/resource.h"

namespace vellum {

DialUpDialog::DialUpDialog(const DialUpSettings& current)
    : ModalDialog(IDD_DIALUP, "ダイアルアップ接続サポート"), record(current) {}

void DialUpDialog::read_phone_book() {
    DWORD count = 0;
    if (!dialup_list_entries(nullptr, count) || count == 0) return;
    entries_.resize(count);
    // A failure part way leaves the entries read before it.
    dialup_list_entries(entries_.data(), count);
    entries_.resize(count);
}

void DialUpDialog::on_init() {
    set_checked(IDC_DIALUP_SUPPORT, record.support != 0);
    read_phone_book();
    for (const RasDialParamsRecord& entry : entries_) {
        send_item(IDC_DIALUP_ENTRY, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.szEntryName));
    }
    if (!entries_.empty()) {
        std::size_t chosen = 0;
        while (chosen < entries_.size() && record.dialStr != entries_[chosen].szEntryName) ++chosen;
        if (chosen < entries_.size()) {
            send_item(IDC_DIALUP_ENTRY, CB_SETCURSEL, chosen);
            show_login(record.idStr, record.passwordStr);
        } else {
            // The configured entry is gone from the phone book: the first one
            // stands in for it.
            send_item(IDC_DIALUP_ENTRY, CB_SETCURSEL, 0);
            take_entry(entries_.front());
        }
    }
    enable_entry();
}

void DialUpDialog::enable_entry() {
    const bool on = record.support != 0;
    for (int id : {IDC_DIALUP_ENTRY, IDC_DIALUP_ID_LABEL, IDC_DIALUP_ID, IDC_DIALUP_PASSWORD_LABEL,
                   IDC_DIALUP_PASSWORD}) {
        enable_item(id, on);
    }
}

void DialUpDialog::show_login(const std::string& user, const std::string& password) {
    set_item_text(IDC_DIALUP_ID, user);
    set_item_text(IDC_DIALUP_PASSWORD, password);
}

void DialUpDialog::take_entry(const RasDialParamsRecord& entry) {
    record.dialStr = entry.szEntryName;
    record.idStr = entry.szUserName;
    record.passwordStr = entry.szPassword;
    show_login(record.idStr, record.passwordStr);
}

void DialUpDialog::OnEntryChosen() {
    const LRESULT index = send_item(IDC_DIALUP_ENTRY, CB_GETCURSEL);
    if (index < 0 || static_cast<std::size_t>(index) >= entries_.size()) return;
    const RasDialParamsRecord& entry = entries_[static_cast<std::size_t>(index)];
    if (record.dialStr != entry.szEntryName) {
        take_entry(entry);
    } else {
        show_login(record.idStr, record.passwordStr);
    }
}

bool DialUpDialog::on_command(UINT id, UINT code) {
    if (id == IDC_DIALUP_SUPPORT && code == BN_CLICKED) {
        record.support = is_checked(IDC_DIALUP_SUPPORT) ? 1 : 0;
        enable_entry();
        return true;
    }
    if (id == IDC_DIALUP_ENTRY && code == CBN_SELCHANGE) {
        OnEntryChosen();
        return true;
    }
    return false;
}

bool DialUpDialog::on_ok() {
    record.support = is_checked(IDC_DIALUP_SUPPORT) ? 1 : 0;
    const LRESULT index = send_item(IDC_DIALUP_ENTRY, CB_GETCURSEL);
    if (entries_.empty() || index < 0 || static_cast<std::size_t>(index) >= entries_.size()) {
        record.dialStr.clear();
        record.idStr.clear();
        record.passwordStr.clear();
        return true;
    }
    record.dialStr = entries_[static_cast<std::size_t>(index)].szEntryName;
    record.idStr = item_text(IDC_DIALUP_ID);
    record.passwordStr = item_text(IDC_DIALUP_PASSWORD);
    return true;
}

}  // namespace vellum
