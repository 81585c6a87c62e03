#include "shell/proxy_dialog_win.h"

#include <cstdlib>

#include "base/prompt.h"
#include "proxy/listener_win.h"
#include "resources/resource.h"

namespace vellum {
namespace {

constexpr char kTitle[] = "HTTPプロキシサーバーの設定";

}  // namespace

ProxyDialog::ProxyDialog(const ProxySettings& current, const ListenAddress& own, Resolver resolve)
    : ModalDialog(IDD_PROXY, kTitle), record(current), own_(own),
      resolve_(resolve ? std::move(resolve) : Resolver(&resolve_ipv4_host)) {}

void ProxyDialog::on_init() {
    set_checked(IDC_PROXY_USE, record.proxy != 0);
    set_item_text(IDC_PROXY_ADDRESS, record.address);
    set_item_text(IDC_PROXY_PORT, record.port);
    enable_address();
}

void ProxyDialog::enable_address() {
    const bool on = is_checked(IDC_PROXY_USE);
    for (int id : {IDC_PROXY_ADDRESS_LABEL, IDC_PROXY_ADDRESS, IDC_PROXY_PORT_LABEL, IDC_PROXY_PORT}) {
        enable_item(id, on);
    }
}

bool ProxyDialog::on_command(UINT id, UINT code) {
    if (id != IDC_PROXY_USE || code != BN_CLICKED) return false;
    enable_address();
    return true;
}

void ProxyDialog::warn(const char* text) {
    show_message(dialog(), text, kTitle, MB_OK | MB_ICONWARNING | MB_SYSTEMMODAL);
}

bool ProxyDialog::on_ok() {
    record.proxy = is_checked(IDC_PROXY_USE) ? 1 : 0;
    record.address = item_text(IDC_PROXY_ADDRESS);
    record.port = item_text(IDC_PROXY_PORT);
    // Checked even with the box off: a stored address is always one that
    // resolved (an empty one names this machine).
    const std::optional<std::uint32_t> address = resolve_(record.address);
    if (!address) {
        warn("アドレスエラー");
        set_item_text(IDC_PROXY_ADDRESS, "");
        return false;
    }
    if (record.proxy && *address == own_.address && std::atoi(record.port.c_str()) == own_.port) {
        warn("クライアント側（Ｗｅｂブラウザ等）で設定する値です。");
        return false;
    }
    return true;
}

}  // namespace vellum
