#include "http/line_reader.h"

#include <algorithm>
#include <cstring>

namespace vellum {
namespace {

constexpr int kPeekWindow = kHeaderPeekWindow;

std::optional<std::string> read_line_bytewise(ByteSource& source, char terminator) {
    std::string line;
    line.reserve(1024);
    for (;;) {
        char byte;
        if (source.receive(&byte, 1) <= 0) return std::nullopt;  // closed or failed: the partial line is lost
        if (byte == '\0') continue;  // zero bytes never reach a header line
        line.push_back(byte);
        if (byte == terminator) return line;
        if (line.size() >= kMaxLineBytes) return std::nullopt;
    }
}

// The same line, the same bytes consumed, in a peek and a receive per line
// rather than a receive per byte: under Wine each receive is several calls
// into the wineserver, and byte-wise header reading was most of a request's
// cost.
std::optional<std::string> read_line_peeking(ByteSource& source, char terminator) {
    std::string line;
    line.reserve(1024);
    char window[kPeekWindow];
    for (;;) {
        int seen = source.peek(window, kPeekWindow);
        if (seen <= 0) return std::nullopt;
        const void* end = std::memchr(window, terminator, static_cast<std::size_t>(seen));
        std::size_t take = end ? static_cast<std::size_t>(static_cast<const char*>(end) - window) + 1
                               : static_cast<std::size_t>(seen);
        // Never past the byte at which the byte-wise reader gives up on an
        // endless line: a refused line consumes exactly what it did there.
        take = std::min(take, kMaxLineBytes - line.size());
        int got = source.receive(window, static_cast<int>(take));
        if (got <= 0) return std::nullopt;
        for (int i = 0; i < got; ++i) {
            const char byte = window[i];
            if (byte == '\0') continue;
            line.push_back(byte);
            if (byte == terminator) return line;
            if (line.size() >= kMaxLineBytes) return std::nullopt;
        }
    }
}

// A header block as its bytes arrive, one at a time, with its limits.
class HeaderBlockBuilder {
public:
    enum State { more, complete, refused };

    State add(char byte) {
        if (byte == '\0') return more;  // zero bytes never reach a header line
        line_.push_back(byte);
        if (byte != '\n') return line_.size() >= kMaxLineBytes ? refused : more;
        total_ += line_.size();
        if (total_ > kMaxHeaderBytes) return refused;
        const bool end_of_block = line_ == "\r\n" || line_ == "\n";
        block_.append(std::string(line_));  // a right-sized copy; the buffer serves the next line
        line_.clear();
        if (block_.size() > kMaxHeaderLines) return refused;
        return end_of_block ? complete : more;
    }
    LineList take() { return std::move(block_); }

private:
    LineList block_;
    std::string line_;
    std::size_t total_ = 0;
};

// Receives and drops `count` bytes that a peek has shown.
bool consume(ByteSource& source, int count) {
    char sink[kPeekWindow];
    while (count > 0) {
        const int got = source.receive(sink, std::min(count, kPeekWindow));
        if (got <= 0) return false;
        count -= got;
    }
    return true;
}

}  // namespace

std::optional<std::string> read_line(ByteSource& source, char terminator) {
    return source.can_peek() ? read_line_peeking(source, terminator) : read_line_bytewise(source, terminator);
}

std::optional<LineList> read_header_block(ByteSource& source) {
    HeaderBlockBuilder builder;
    if (!source.can_peek()) {
        for (;;) {
            char byte;
            if (source.receive(&byte, 1) <= 0) return std::nullopt;
            switch (builder.add(byte)) {
            case HeaderBlockBuilder::more: continue;
            case HeaderBlockBuilder::complete: return builder.take();
            case HeaderBlockBuilder::refused: return std::nullopt;
            }
        }
    }
    char window[kPeekWindow];
    for (;;) {
        const int seen = source.peek(window, kPeekWindow);
        if (seen <= 0) return std::nullopt;
        // Take what the peek showed up to the block's end or the byte that
        // passes a limit, then receive exactly that much: the bytes are
        // already there, so the receives return them.
        int taken = 0;
        HeaderBlockBuilder::State state = HeaderBlockBuilder::more;
        while (taken < seen && state == HeaderBlockBuilder::more) state = builder.add(window[taken++]);
        if (!consume(source, taken)) return std::nullopt;
        if (state == HeaderBlockBuilder::complete) return builder.take();
        if (state == HeaderBlockBuilder::refused) return std::nullopt;
    }
}

}  // namespace vellum
