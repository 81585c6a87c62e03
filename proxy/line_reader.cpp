#include "proxy/line_reader.h"

namespace vellum {

std::optional<std::string> read_line(ByteSource& source, char terminator) {
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
