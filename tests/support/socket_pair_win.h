// A connected pair of real loopback TCP sockets for tests of the socket
// primitives, and WinSock start-up for a test program.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <string>

#include "base/win_handles.h"

namespace vellum::testing {

class WinsockSession {
public:
    WinsockSession() { WSAStartup(MAKEWORD(1, 1), &data_); }
    ~WinsockSession() { WSACleanup(); }

private:
    WSADATA data_{};
};

struct SocketPair {
    UniqueSocket near_end;  // the side under test
    UniqueSocket far_end;   // the peer the test plays
};

inline SocketPair make_socket_pair() {
    SocketPair pair;
    UniqueSocket listener(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener.get(), 1);
    int length = sizeof address;
    getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length);
    pair.far_end.reset(socket(AF_INET, SOCK_STREAM, 0));
    connect(pair.far_end.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    pair.near_end.reset(accept(listener.get(), nullptr, nullptr));
    return pair;
}

// Sends everything, in as many calls as it takes.
inline void send_all(SOCKET s, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        int n = send(s, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
        if (n <= 0) return;
        sent += static_cast<std::size_t>(n);
    }
}

// Receives until the peer closes.
inline std::string receive_all(SOCKET s) {
    std::string bytes;
    char buffer[4096];
    for (;;) {
        int n = recv(s, buffer, sizeof buffer, 0);
        if (n <= 0) return bytes;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
}

}  // namespace vellum::testing
