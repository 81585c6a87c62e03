// Reading lines and header blocks from a ByteSource.
//
// Nothing past the line's terminator is ever consumed, so that the body stays
// in the socket for the relay: from a source that can peek, each line is
// looked at first and then received up to its terminator; from any other,
// one byte per receive. Both give the same lines and consume the same bytes.
// Zero bytes are dropped. A peer that never sends the terminator can't exhaust
// memory: a line longer than kMaxLineBytes, or a header block longer than
// kMaxHeaderBytes, fails exactly like a closed peer. Any thread; results are owned by the caller.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "http/byte_source.h"
#include "http/line_list.h"

namespace vellum {

inline constexpr std::size_t kMaxLineBytes = 64 * 1024;
inline constexpr std::size_t kMaxHeaderBytes = 1024 * 1024;

// One line up to and including `terminator`; none when the peer closes, the
// receive fails, or the line passes kMaxLineBytes before its terminator.
std::optional<std::string> read_line(ByteSource& source, char terminator);

// Lines up to and including the empty line ("\r\n" or "\n"); none when a line
// can't be read or the block passes kMaxHeaderBytes.
std::optional<LineList> read_header_block(ByteSource& source);

}  // namespace vellum
