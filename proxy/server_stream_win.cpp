#include "proxy/server_stream_win.h"

#include <algorithm>
#include <cstring>

#include "proxy/connection_io_win.h"

namespace vellum {

bool PlainServerStream::send_all(std::string_view bytes) {
    return send_text(socket_, bytes);
}

int PlainServerStream::peek_prefix(const char* expected, int length, char* peeked, int window) {
    const int count = vellum::peek_prefix(socket_, expected, length, peeked, window);
    if (count > 0) seen_.assign(peeked, static_cast<std::size_t>(count));
    return count;
}

int PlainServerStream::receive(char* buffer, int size) {
    seen_.clear();
    return recv(socket_, buffer, size, 0);
}

int PlainServerStream::peek(char* buffer, int size) {
    if (!seen_.empty() && size > 0) {
        const int count = static_cast<int>(std::min<std::size_t>(seen_.size(), static_cast<std::size_t>(size)));
        std::memcpy(buffer, seen_.data(), static_cast<std::size_t>(count));
        seen_.clear();
        return count;
    }
    return recv(socket_, buffer, size, MSG_PEEK);
}

int PlainServerStream::wait_readable(int seconds) {
    return vellum::wait_readable(socket_, seconds);
}

}  // namespace vellum
