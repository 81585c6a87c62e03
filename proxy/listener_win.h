// The proxy's listening socket and its accept thread, and the program's
// WinSock session.
//
// The UI thread starts WinSock and the listener while the main window is
// created and closes them in the close sequence and at destruction. The accept
// thread only accepts: every accepted socket is posted to the main window as
// MWM_CLIENT_ACCEPTED (wParam = the socket), which owns it from then on.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "base/win_handles.h"
#include "store/store_sweep_win.h"

namespace vellum {

// WSAStartup with version 1.1; the data it returned is kept for the WinSock
// information dialog. UI thread.
bool start_winsock();
void stop_winsock();
const WSADATA& winsock_data();

// The IPv4 address (host byte order) of a dotted address or a host name the
// resolver knows; none otherwise. Needs WinSock started.
std::optional<std::uint32_t> resolve_ipv4_host(const std::string& host);

enum class ListenError { none, socket, bind, listen, thread };

// The warning shown for a failed step (empty for none).
const char* listen_error_text(ListenError error);

class Listener {
public:
    Listener() = default;
    ~Listener() { close(); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // Creates, binds and listens on the address (host byte order), then
    // starts the accept thread posting to `main_window`. The backlog is the
    // system's largest, so that a burst of hundreds of connects never waits
    // for the accept thread. With a `save_folder`, once listening, a sweep
    // of it clears in the background what a crash left there (a commit cut
    // short, receiving files).
    ListenError start(HWND main_window, std::uint32_t address, std::uint16_t port,
                      const std::string& save_folder = {});
    // Stops the sweep, closes the listening socket and waits without limit
    // for the accept thread to end. Nothing more happens when not listening.
    void close();
    bool listening() const { return socket_.valid(); }

private:
    static DWORD WINAPI accept_loop(void* self);

    HWND main_window_ = nullptr;
    UniqueSocket socket_;
    KernelHandle thread_;
    std::atomic<bool> closing_{false};
    StoreSweep sweep_;
};

}  // namespace vellum
