#include "http/line_reader.h"

#include <algorithm>
#include <cstring>

namespace vellum {
namespace {

// How far one peek looks ahead. A header line rarely passes it; a longer one
// just takes another peek.
constexpr int kPeekWindow = 4096;

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

}  // namespace

std::optional<std::string> read_line(ByteSource& source, char terminator) {
    return source.can_peek() ? read_line_peeking(source, terminator) : read_line_bytewise(source, terminator);
}

std::optional<LineList> read_header_block(ByteSource& source) {
    LineList block;
    std::size_t total = 0;
    for (;;) {
        std::optional<std::string> line = read_line(source, '\n');
        if (!line) return std::nullopt;
        total += line->size();
        if (total > kMaxHeaderBytes) return std::nullopt;
        const bool end_of_block = *line == "\r\n" || *line == "\n";
        block.append(std::move(*line));
        if (end_of_block) return block;
    }
}

}  // namespace vellum
