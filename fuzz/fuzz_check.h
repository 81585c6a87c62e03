// What the fuzz targets share: the property check that libFuzzer reports,
// and the checks on a header block that both header parsers must meet.
//
// A broken property aborts with its description on stderr; libFuzzer then
// keeps the input as a crash file like any other finding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "http/line_list.h"
#include "http/line_reader.h"

namespace vellum::fuzz {

inline void require(bool holds, const char* property) {
    if (holds) return;
    std::fprintf(stderr, "property broken: %s\n", property);
    std::abort();
}

inline std::string input_text(const std::uint8_t* data, std::size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

inline bool has_line_break(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

// A line as the wire carries it: one LF, at its end.
inline bool is_one_wire_line(std::string_view line) {
    return !line.empty() && line.find('\n') == line.size() - 1;
}

inline bool is_empty_line(std::string_view line) {
    return line == "\r\n" || line == "\n";
}

// The block read from `input` must be the input's first bytes with the zero
// bytes left out, one wire line per element, ending at its first empty line.
// Returns the number of input bytes the block took.
inline std::size_t check_header_block(const LineList& block, std::string_view input) {
    require(!block.empty(), "a header block has at least its empty line");
    require(is_empty_line(block.back()), "a header block ends in its empty line");
    std::size_t total = 0;
    for (std::size_t i = 0; i < block.size(); ++i) {
        require(is_one_wire_line(block[i]), "every element is one line with its LF");
        require(block[i].find('\0') == std::string::npos, "zero bytes never reach a header line");
        require(block[i].size() <= kMaxLineBytes, "a line is at most kMaxLineBytes");
        require(i + 1 == block.size() || !is_empty_line(block[i]), "the block ends at its first empty line");
        total += block[i].size();
    }
    require(total <= kMaxHeaderBytes, "a block is at most kMaxHeaderBytes");

    const std::string joined = block.join();
    std::size_t matched = 0;
    std::size_t consumed = 0;
    while (matched < joined.size()) {
        require(consumed < input.size(), "the block comes from the input");
        const char byte = input[consumed++];
        if (byte == '\0') continue;
        require(byte == joined[matched++], "the block is the input as received");
    }
    return consumed;
}

}  // namespace vellum::fuzz
