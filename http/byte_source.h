// ByteSource: the one thing the line reader and the header parsers need from
// a connection. The Win32 layer implements it over a blocking socket; tests
// implement it over a string. Owned by the caller; used by one thread.
#pragma once

namespace vellum {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // One receive of at most `size` bytes: the count (> 0), 0 when the peer
    // has closed, < 0 on failure.
    virtual int receive(char* buffer, int size) = 0;
    // 1 readable within `seconds` (negative: wait without limit), 0 time-out,
    // -1 failure.
    virtual int wait_readable(int seconds) = 0;

    // Sources that can look ahead let the line reader take a whole line per
    // receive instead of one byte: it peeks, then receives exactly the bytes
    // up to the terminator, so nothing past the line is consumed either way.
    virtual bool can_peek() const { return false; }
    // Up to `size` bytes that the next receive would return, left in the
    // source (blocking like receive): the count (> 0), 0 when the peer has
    // closed, < 0 on failure. Only called when can_peek().
    virtual int peek(char* /*buffer*/, int /*size*/) { return -1; }
};

}  // namespace vellum
