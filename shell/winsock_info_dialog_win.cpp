#include "shell/winsock_info_dialog_win.h"

#include "base/format_win.h"
#include "resources/resource.h"
#include "shell/log_window.h"

namespace vellum {

std::string winsock_info_text(const WSADATA& data) {
    std::string text = format_text("Version : %d.%d\r\n", LOBYTE(data.wVersion), HIBYTE(data.wVersion));
    text += format_text("HighVersion : %d.%d\r\n", LOBYTE(data.wHighVersion), HIBYTE(data.wHighVersion));
    text += format_text("Description : %s\r\n", data.szDescription);
    text += format_text("SystemStatus : %s\r\n", data.szSystemStatus);
    // WinSock 2 leaves the two limits undefined.
    if (data.wVersion == MAKEWORD(1, 1)) {
        text += format_text("MaxSockets : %u\r\n", static_cast<unsigned>(data.iMaxSockets));
        text += format_text("MaxUdpDg: %u\r\n", static_cast<unsigned>(data.iMaxUdpDg));
    }
    return text;
}

WinsockInfoDialog::WinsockInfoDialog(const WSADATA& data) : ModalDialog(IDD_LOG, "WinSock情報"), data_(data) {}

void WinsockInfoDialog::on_init() {
    hide_log_progress(dialog());
    set_item_text(IDC_LOG_TEXT, winsock_info_text(data_));
}

}  // namespace vellum
