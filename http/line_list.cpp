#include "http/line_list.h"

namespace vellum {

LineList LineList::split(std::string_view text, bool strip_line_endings, bool skip_empty) {
    LineList list;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t lf = text.find('\n', start);
        std::size_t end = (lf == std::string_view::npos) ? text.size() : lf + 1;
        std::string_view piece = text.substr(start, end - start);
        if (strip_line_endings && lf != std::string_view::npos) {
            piece.remove_suffix(1);
            if (!piece.empty() && piece.back() == '\r') piece.remove_suffix(1);
        }
        if (!(skip_empty && piece.empty())) list.append(std::string(piece));
        start = end;
    }
    return list;
}

std::string LineList::join(bool add_crlf, bool skip_empty) const {
    std::string text;
    for (const std::string& line : lines_) {
        if (skip_empty && (line.empty() || line == "\r\n" || line == "\n")) continue;
        text += line;
        if (add_crlf) text += "\r\n";
    }
    return text;
}

}  // namespace vellum
