// Reading lines and header blocks from a ByteSource.
//
// Nothing past the line's terminator (or the header block's empty line) is
// ever consumed, so that the body stays in the socket for the relay: from a
// source that can peek, what has arrived is looked at first and then received
// up to the terminator; from any other, one byte per receive. Both give the
// same lines and consume the same bytes. Zero bytes are dropped.
//
// A peer can't make a header cost more than its size: a line longer than
// kMaxLineBytes, a block longer than kMaxHeaderBytes or of more than
// kMaxHeaderLines lines fails exactly like a closed peer, at the byte where
// the limit is passed, and a block is read in as few receives as its arrival
// allows, not one or two per line. Any thread; results are owned by the
// caller.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "http/byte_source.h"
#include "http/line_list.h"

namespace vellum {

inline constexpr std::size_t kMaxLineBytes = 64 * 1024;
inline constexpr std::size_t kMaxHeaderBytes = 1024 * 1024;
// Browsers send a few dozen lines; a block of thousands is an attack.
inline constexpr std::size_t kMaxHeaderLines = 1000;
// How far one peek looks ahead. A browser's whole header rarely passes it; a
// longer one just takes another peek.
inline constexpr int kHeaderPeekWindow = 4096;

// One line up to and including `terminator`; none when the peer closes, the
// receive fails, or the line passes kMaxLineBytes before its terminator.
std::optional<std::string> read_line(ByteSource& source, char terminator);

// Lines up to and including the empty line ("\r\n" or "\n"); none when a line
// can't be read or the block passes kMaxHeaderBytes or kMaxHeaderLines (the
// empty line counts).
std::optional<LineList> read_header_block(ByteSource& source);

}  // namespace vellum
