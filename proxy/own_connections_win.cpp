#include "proxy/own_connections_win.h"

#include "base/clock.h"
#include "proxy/own_connections.h"

namespace vellum {
namespace {

// One end of a connected IPv4 socket; family 0 when it can't be read.
sockaddr_in end_of(SOCKET socket, bool local) {
    sockaddr_in address{};
    int length = sizeof address;
    const int result = local ? getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length)
                             : getpeername(socket, reinterpret_cast<sockaddr*>(&address), &length);
    if (result != 0 || address.sin_family != AF_INET) return sockaddr_in{};
    return address;
}

}  // namespace

bool announce_own_connection(SOCKET connected_socket) {
    const sockaddr_in local = end_of(connected_socket, /*local=*/true);
    if (local.sin_family != AF_INET) return false;
    own_connections().announce(ntohs(local.sin_port), current_time_utc());
    return true;
}

bool is_own_connection(SOCKET accepted_socket) {
    // Most connections are the browser's while nothing is announced: then
    // the socket's two ends need not be asked for (two calls into the socket
    // layer per request).
    if (own_connections().pending() == 0) return false;
    // The program connects to its own listening address, so its connections
    // come from the very address they arrive at; a port number alone could be
    // another machine's.
    const sockaddr_in peer = end_of(accepted_socket, /*local=*/false);
    const sockaddr_in local = end_of(accepted_socket, /*local=*/true);
    if (peer.sin_family != AF_INET || local.sin_family != AF_INET) return false;
    if (peer.sin_addr.s_addr != local.sin_addr.s_addr) return false;
    return own_connections().take(ntohs(peer.sin_port), current_time_utc());
}

}  // namespace vellum
