// The WinSock information dialog (template 143 of the log window, command
// 40165): what WSAStartup reported when the program started its network.
//
// UI thread; modal, OK (Enter) or cancel (Esc) closes it. Nothing comes back.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <string>

#include "base/dialog_win.h"

namespace vellum {

// The lines the dialog shows, each ending in "\r\n": the version in use and
// the highest one, the description and the system status, and for version
// 1.1 also the two 16-bit limits.
std::string winsock_info_text(const WSADATA& data);

class WinsockInfoDialog : public ModalDialog {
public:
    explicit WinsockInfoDialog(const WSADATA& data);

private:
    void on_init() override;

    WSADATA data_;
};

}  // namespace vellum
