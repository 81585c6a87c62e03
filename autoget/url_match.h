// The text tests the page tree makes on URLs: the extension of a URL, case-
// insensitive equality of extensions, and "contains" tried at each character
// position, where a two-byte character of the code page is one position, so
// a match never starts on a trail byte.
//
// Pure functions over code page 932 bytes; any thread. Case is folded for
// single-byte ASCII letters only; the bytes of a two-byte character are
// always compared as they are.
#pragma once

#include <optional>
#include <string_view>

#include "http/line_list.h"

namespace vellum {

// The text after the last "." of the URL cut at its first "#" and then at its
// first "?"; none when no "." is left. (A "." in the host counts too.)
std::optional<std::string_view> url_extension(std::string_view url);

bool equal_ignoring_case(std::string_view a, std::string_view b);

// Whether `entries` holds `extension`, ignoring case; empty entries are
// skipped when skip_empty_entries is set.
bool list_holds_extension(const LineList& entries, std::string_view extension, bool skip_empty_entries);

// Whether `needle` occurs in `text` starting at a character position.
bool contains_at_char_position(std::string_view text, std::string_view needle, bool case_sensitive);

}  // namespace vellum
