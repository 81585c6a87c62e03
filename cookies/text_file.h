// Reading the line-oriented text files kept beside the program (the cookie
// and credential files). The Win32 layer reads a file's bytes whole; these
// functions cut them into lines. Pure functions; any thread; results view the
// caller's bytes.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace vellum {

// The line of `bytes` that starts at `offset`, without its "\n" and a "\r"
// right before it, and moves `offset` past the "\n". None when no "\n"
// follows: a last line without a line end is never read, so a file cut short
// by a crash loses its incomplete line only. Zero bytes are left in the line;
// the parsers end each text at its first zero byte.
std::optional<std::string_view> read_text_line(std::string_view bytes, std::size_t& offset);

// `text` up to its first zero byte.
std::string_view text_before_zero(std::string_view text);

}  // namespace vellum
