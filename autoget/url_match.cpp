#include "autoget/url_match.h"

#include <cstring>

#include "base/lead_byte.h"

namespace vellum {
namespace {

char fold(char ch) {
    return (ch >= 'a' && ch <= 'z') ? static_cast<char>(ch - 'a' + 'A') : ch;
}

// Compares `needle` with `text` at `at`, folding single-byte characters of
// `text` (and the needle bytes facing them) when asked.
bool matches_at(std::string_view text, std::size_t at, std::string_view needle, bool case_sensitive) {
    if (text.size() - at < needle.size()) return false;
    if (case_sensitive) return std::memcmp(text.data() + at, needle.data(), needle.size()) == 0;
    for (std::size_t i = 0; i < needle.size(); ++i) {
        const char ch = text[at + i];
        if (is_lead_byte(static_cast<unsigned char>(ch)) && i + 1 < needle.size()) {
            if (ch != needle[i] || text[at + i + 1] != needle[i + 1]) return false;
            ++i;
            continue;
        }
        if (fold(ch) != fold(needle[i])) return false;
    }
    return true;
}

}  // namespace

std::optional<std::string_view> url_extension(std::string_view url) {
    // No trail byte of code page 932 is "#", "?" or ".", so plain searches do.
    url = url.substr(0, url.find('#'));
    url = url.substr(0, url.find('?'));
    const std::size_t dot = url.rfind('.');
    if (dot == std::string_view::npos) return std::nullopt;
    return url.substr(dot + 1);
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && matches_at(a, 0, b, false);
}

bool list_holds_extension(const LineList& entries, std::string_view extension, bool skip_empty_entries) {
    for (const std::string& entry : entries) {
        if (skip_empty_entries && entry.empty()) continue;
        if (equal_ignoring_case(entry, extension)) return true;
    }
    return false;
}

bool contains_at_char_position(std::string_view text, std::string_view needle, bool case_sensitive) {
    if (needle.empty()) return true;
    for (std::size_t at = 0; at < text.size();) {
        if (matches_at(text, at, needle, case_sensitive)) return true;
        at += (is_lead_byte(static_cast<unsigned char>(text[at])) && at + 1 < text.size()) ? 2 : 1;
    }
    return false;
}

}  // namespace vellum
