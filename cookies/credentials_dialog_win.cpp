#include "cookies/credentials_dialog_win.h"

#include "resources/resource.h"

namespace vellum {
namespace {

constexpr char kTitle[] = "パスワード設定";

}  // namespace

CredentialsDialog::CredentialsDialog(const CredentialStore& store)
    : ModalDialog(IDD_PASSWORDS, kTitle), store_(store) {}

void CredentialsDialog::on_init() {
    edits = CredentialEdits{};
    hosts_.clear();
    host_.reset();
    for (const CredentialHost& host : credentials_hosts(store_)) {
        hosts_.push_back(host.host);
        send_item(IDC_AUTH_HOST, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(host.host.c_str()));
    }
    reset_challenge_part();
    enable_item(IDC_AUTH_REMOVE, false);
}

bool CredentialsDialog::on_ok() {
    keep_current_edit();
    return true;
}

bool CredentialsDialog::on_command(UINT id, UINT code) {
    if (id == IDC_AUTH_HOST && code == CBN_SELCHANGE) {
        select_host(static_cast<int>(send_item(IDC_AUTH_HOST, CB_GETCURSEL)));
        return true;
    }
    if (id == IDC_AUTH_CHALLENGE && code == CBN_SELCHANGE) {
        select_challenge(static_cast<int>(send_item(IDC_AUTH_CHALLENGE, CB_GETCURSEL)));
        return true;
    }
    if (id == IDC_AUTH_REMOVE && code == BN_CLICKED) {
        remove_host();
        return true;
    }
    return false;
}

// What is on screen becomes a pending edit before anything else replaces it.
void CredentialsDialog::keep_current_edit() {
    if (!host_ || !challenge_ || *host_ >= hosts_.size() || *challenge_ >= challenges_.size()) return;
    edits.keep(hosts_[*host_], challenges_[*challenge_], whole_text(IDC_AUTH_USER), whole_text(IDC_AUTH_PASSWORD));
}

void CredentialsDialog::select_host(int index) {
    keep_current_edit();
    reset_challenge_part();
    if (index < 0 || static_cast<std::size_t>(index) >= hosts_.size()) {
        host_.reset();
        enable_item(IDC_AUTH_REMOVE, false);
        return;
    }
    host_ = static_cast<std::size_t>(index);
    enable_item(IDC_AUTH_REMOVE, true);
    for (const CredentialEntry& entry : credentials_for_host(store_, hosts_[*host_])) {
        challenges_.push_back(entry.challenge);
        send_item(IDC_AUTH_CHALLENGE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.challenge.c_str()));
    }
    if (challenges_.empty()) return;
    enable_item(IDC_AUTH_CHALLENGE, true);
    send_item(IDC_AUTH_CHALLENGE, CB_SETCURSEL, 0);
    select_challenge(0);
}

void CredentialsDialog::select_challenge(int index) {
    keep_current_edit();
    set_item_text(IDC_AUTH_USER, "");
    set_item_text(IDC_AUTH_PASSWORD, "");
    enable_item(IDC_AUTH_USER, false);
    enable_item(IDC_AUTH_PASSWORD, false);
    if (!host_ || index < 0 || static_cast<std::size_t>(index) >= challenges_.size()) {
        challenge_.reset();
        return;
    }
    challenge_ = static_cast<std::size_t>(index);
    const std::string& host = hosts_[*host_];
    const std::string& challenge = challenges_[*challenge_];
    if (const CredentialEdits::Edit* pending = edits.find(host, challenge)) {
        set_item_text(IDC_AUTH_USER, pending->user_name);
        set_item_text(IDC_AUTH_PASSWORD, pending->password);
    } else if (const CredentialEntry* stored = credentials_find(store_, host, challenge)) {
        set_item_text(IDC_AUTH_USER, stored->user_name.value_or(""));
        set_item_text(IDC_AUTH_PASSWORD, stored->password.value_or(""));
    }
    enable_item(IDC_AUTH_USER, true);
    enable_item(IDC_AUTH_PASSWORD, true);
}

void CredentialsDialog::remove_host() {
    if (!host_ || *host_ >= hosts_.size()) return;
    // The edit on screen belongs to a host that goes anyway: not kept.
    edits.remove_host(hosts_[*host_]);
    send_item(IDC_AUTH_HOST, CB_DELETESTRING, *host_);
    hosts_.erase(hosts_.begin() + static_cast<std::ptrdiff_t>(*host_));
    if (hosts_.empty()) send_item(IDC_AUTH_HOST, CB_RESETCONTENT);
    send_item(IDC_AUTH_HOST, CB_SETCURSEL, static_cast<WPARAM>(-1));
    host_.reset();
    enable_item(IDC_AUTH_REMOVE, false);
    reset_challenge_part();
}

void CredentialsDialog::reset_challenge_part() {
    send_item(IDC_AUTH_CHALLENGE, CB_RESETCONTENT);
    challenges_.clear();
    challenge_.reset();
    set_item_text(IDC_AUTH_USER, "");
    set_item_text(IDC_AUTH_PASSWORD, "");
    enable_item(IDC_AUTH_CHALLENGE, false);
    enable_item(IDC_AUTH_USER, false);
    enable_item(IDC_AUTH_PASSWORD, false);
}

// The whole text of an edit: user names and passwords have no length limit
// of their own.
std::string CredentialsDialog::whole_text(int id) const {
    const int length = GetWindowTextLengthA(item(id));
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    const int got = GetWindowTextA(item(id), text.data(), length + 1);
    text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
    return text;
}

}  // namespace vellum
