// ByteSources over fixed bytes, for parser tests. StringSource hands out at
// most the requested bytes per receive, then reports the peer closed (or an
// error); PeekingStringSource can also look ahead, showing at most `window`
// bytes per peek, as a socket shows only what has arrived.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>

#include "http/byte_source.h"

namespace vellum::testing {

class StringSource : public ByteSource {
public:
    explicit StringSource(std::string bytes, bool fail_at_end = false)
        : bytes_(std::move(bytes)), fail_at_end_(fail_at_end) {}

    int receive(char* buffer, int size) override {
        ++receive_calls;
        int count = copy_out(buffer, size);
        position_ += static_cast<std::size_t>(std::max(count, 0));
        return count;
    }
    int wait_readable(int) override { return position_ < bytes_.size() || fail_at_end_ ? 1 : 0; }

    std::string remaining() const { return bytes_.substr(position_); }
    int receive_calls = 0;

protected:
    int copy_out(char* buffer, int size) const {
        if (position_ >= bytes_.size()) return fail_at_end_ ? -1 : 0;
        std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(size), bytes_.size() - position_);
        std::memcpy(buffer, bytes_.data() + position_, count);
        return static_cast<int>(count);
    }

private:
    std::string bytes_;
    std::size_t position_ = 0;
    bool fail_at_end_;
};

class PeekingStringSource : public StringSource {
public:
    explicit PeekingStringSource(std::string bytes, int window = 1 << 20, bool fail_at_end = false)
        : StringSource(std::move(bytes), fail_at_end), window_(window) {}

    bool can_peek() const override { return true; }
    int peek(char* buffer, int size) override {
        ++peek_calls;
        return copy_out(buffer, std::min(size, window_));
    }
    int peek_calls = 0;

private:
    int window_;
};

}  // namespace vellum::testing
