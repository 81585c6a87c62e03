// ConnectionRecord: one per accepted browser connection, made and freed by the
// UI thread, holding the settings snapshot the connection runs with and the
// two sockets of the connection.
//
// The connection thread reads the snapshot fields (never changed after the
// record is made) at its start. The sockets are made and closed by the
// connection thread and published here, so that the UI thread can cut them
// on an abort or a crawler stop: either side takes a socket out of its slot
// before closing it (close_socket_slot), so each is closed once. The UI
// thread alone writes the deferred request and the auto-get flags.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <optional>
#include <string>

#include "base/parked_message_win.h"
#include "base/win_handles.h"
#include "http/http_message.h"
#include "proxy/connect_target.h"
#include "proxy/connection_settings.h"

namespace vellum {

// A tunnel that moves no byte either way for this long is closed: a browser
// keeps idle connections open for reuse, and each holds a thread.
inline constexpr int kTunnelIdleSeconds = 300;

// A browser sends its request at once. A client that sends nothing for this
// long while its request is read is let go, so that silent connections can't
// hold threads and their memory for ever.
inline constexpr int kRequestIdleSeconds = 60;
// A server that sends nothing for this long during a TLS handshake is let go.
inline constexpr int kTlsHandshakeSeconds = 30;

struct ConnectionRecord {
    DWORD thread_id = 0;  // the thread serving the connection: replies and CTM_ABORT go there
    // Set by the UI thread when it hands the record to a worker thread,
    // cleared by the worker when it is done with the record (after posting
    // MWM_CONNECTION_DONE); the record is freed only then.
    std::atomic<bool> in_worker{false};
    // Set by the UI thread before it posts CTM_ABORT to the connection.
    std::atomic<bool> abort_posted{false};
    std::atomic<SOCKET> client_socket{INVALID_SOCKET};
    std::atomic<SOCKET> server_socket{INVALID_SOCKET};

    // A request parked while a request-tree command runs.
    ParkedMessage deferred_message;

    // The snapshot taken when the connection was accepted.
    HWND main_window = nullptr;  // where the thread's requests go
    std::string save_folder;     // localPath
    bool internet = false;
    bool page_save = false;  // localize
    bool log_detail = false;
    bool debug_windows = false;
    int debug_mode = 0;  // 0 off, 1 "debug", 2 "debug" then "autoclose"
    ProxySettings proxy;
    DialUpSettings dialup;
    int request_idle_seconds = kRequestIdleSeconds;  // tests shorten it
    int tls_handshake_seconds = kTlsHandshakeSeconds;  // likewise
    // The Cookie value the jar holds for a URL, read on the connection
    // thread; without it the thread asks the main window (MWM_COOKIE_GET).
    std::function<std::optional<std::string>(const ParsedUrl&)> cookies_for;
    // Where the connection's server sockets come from; tests count or refuse them.
    std::function<SOCKET()> make_server_socket = [] { return socket(AF_INET, SOCK_STREAM, 0); };
    TunnelPorts tunnel_ports;                      // tunnel.allowedPorts
    int tunnel_idle_seconds = kTunnelIdleSeconds;  // tests shorten it

    bool autoget_connection = false;  // set by the thread (MWM_MARK_AUTOGET)
    std::atomic<bool> autoget_stopped{false};  // set by the auto-get stop command
};

// Closes the socket in `slot` unless the other side took it first.
inline void close_socket_slot(std::atomic<SOCKET>& slot) {
    SOCKET socket = slot.exchange(INVALID_SOCKET);
    if (socket != INVALID_SOCKET) closesocket(socket);
}

}  // namespace vellum
