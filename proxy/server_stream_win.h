// ServerStream: the byte stream a connection thread forwards over, so that
// the forwarding path reads and writes one way whether the server is reached
// over a plain socket or through TLS (proxy/tls_client_win.h).
//
// Connection-thread side only. The socket is borrowed: the UI thread creates
// and closes it, and the stream must be dropped before the socket is closed.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <string>
#include <string_view>

#include "http/byte_source.h"

namespace vellum {

class ServerStream : public ByteSource {
public:
    // Sends every byte of `bytes`; false when the connection failed.
    virtual bool send_all(std::string_view bytes) = 0;
    // As peek_prefix (proxy/connection_io_win.h) over the stream's next
    // bytes: up to `window` bytes into `peeked`, left in the stream; waits
    // briefly while fewer than `length` came and they begin `expected`.
    // Returns the count, 0 when the peer closed, SOCKET_ERROR on failure.
    virtual int peek_prefix(const char* expected, int length, char* peeked, int window) = 0;
    bool can_peek() const override { return true; }
};

// A connected socket as it is: what http:// requests travel over.
class PlainServerStream : public ServerStream {
public:
    explicit PlainServerStream(SOCKET socket) : socket_(socket) {}
    bool send_all(std::string_view bytes) override;
    int peek_prefix(const char* expected, int length, char* peeked, int window) override;
    int receive(char* buffer, int size) override;
    int wait_readable(int seconds) override;
    int peek(char* buffer, int size) override;

private:
    SOCKET socket_;
    // What the last peek_prefix saw, with nothing received since: the first
    // peek returns it instead of asking the socket again.
    std::string seen_;
};

}  // namespace vellum
