#include "cookies/text_file.h"

namespace vellum {

std::optional<std::string_view> read_text_line(std::string_view bytes, std::size_t& offset) {
    if (offset >= bytes.size()) return std::nullopt;
    const std::size_t newline = bytes.find('\n', offset);
    if (newline == std::string_view::npos) return std::nullopt;
    std::string_view line = bytes.substr(offset, newline - offset);
    offset = newline + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

std::string_view text_before_zero(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

}  // namespace vellum
