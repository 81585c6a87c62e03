// The HTTP proxy settings dialog (resource 172, command 40149): whether the
// connections go through an upstream proxy, and its address and port.
//
// Works on a copy of the settings' ProxySettings; the caller takes the copy
// back only when run() gives IDOK:
//
//   ProxyDialog dialog(settings().proxy, listen_address);
//   if (dialog.run(window) == IDOK) settings().proxy = dialog.record;
//
// OK is refused (the dialog stays, nothing is taken) while the address does
// not resolve, and while the proxy would be the program itself. UI thread.
#pragma once

#include <windows.h>

#include "base/dialog_win.h"
#include "proxy/connection_settings.h"
#include "shell/command_line.h"

namespace vellum {

class ProxyDialog : public ModalDialog {
public:
    ProxySettings record;  // in: what the dialog shows; out after IDOK: what the user set

    // `own`: where the program itself listens; `resolve` finds a host's
    // address (the resolver of the listener by default).
    ProxyDialog(const ProxySettings& current, const ListenAddress& own, Resolver resolve = {});

private:
    void on_init() override;
    bool on_ok() override;
    bool on_command(UINT id, UINT code) override;
    // The address and port with their labels are usable only while the
    // check box is on.
    void enable_address();
    void warn(const char* text);

    ListenAddress own_;
    Resolver resolve_;
};

}  // namespace vellum
