// A ByteSource over fixed bytes, for parser tests: hands out at most
// `chunk` bytes per receive, then reports the peer closed (or an error).
#pragma once

#include <algorithm>
#include <cstring>
#include <string>

#include "proxy/byte_source.h"

namespace vellum::testing {

class StringSource : public ByteSource {
public:
    explicit StringSource(std::string bytes, bool fail_at_end = false)
        : bytes_(std::move(bytes)), fail_at_end_(fail_at_end) {}

    int receive(char* buffer, int size) override {
        ++receive_calls;
        if (position_ >= bytes_.size()) return fail_at_end_ ? -1 : 0;
        std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(size), bytes_.size() - position_);
        std::memcpy(buffer, bytes_.data() + position_, count);
        position_ += count;
        return static_cast<int>(count);
    }
    int wait_readable(int) override { return position_ < bytes_.size() || fail_at_end_ ? 1 : 0; }

    std::string remaining() const { return bytes_.substr(position_); }
    int receive_calls = 0;

private:
    std::string bytes_;
    std::size_t position_ = 0;
    bool fail_at_end_;
};

}  // namespace vellum::testing
