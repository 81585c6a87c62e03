// The socket side of the program's own connections (proxy/own_connections.h).
// Any thread.
#pragma once

#include <winsock2.h>

namespace vellum {

// Call on a socket the program connected to its own proxy port, after the
// connect and before the first send: announces its local port. False when
// the port can't be read (the request then goes out as a stranger's).
bool announce_own_connection(SOCKET connected_socket);

// Call on an accepted socket before its request is parsed: true when its
// peer announced itself (the announcement is taken).
bool is_own_connection(SOCKET accepted_socket);

}  // namespace vellum
