#include "shell/command_line.h"

#include <cctype>

namespace vellum {
namespace {

bool equals_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

std::optional<std::uint32_t> parse_decimal(std::string_view text, std::uint32_t max) {
    if (text.empty() || text.size() > 10) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > max) return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

}  // namespace

CommandLine parse_command_line(std::string_view text) {
    CommandLine result;
    std::size_t position = 0;
    while (position < text.size()) {
        if (text[position] == ' ') {
            ++position;
            continue;
        }
        std::size_t end = text.find(' ', position);
        if (end == std::string_view::npos) end = text.size();
        std::string_view word = text.substr(position, end - position);
        position = end;

        if (equals_ignoring_case(word, "debug")) {
            result.debug_mode = 1;
        } else if (equals_ignoring_case(word, "autoclose")) {
            if (result.debug_mode != 0) result.debug_mode = 2;  // counts only after "debug"
        } else if (equals_ignoring_case(word, "put")) {
            result.put = true;
        } else {
            AddressWord address;
            std::size_t colon = word.find(':');
            address.host = std::string(word.substr(0, colon));
            if (colon != std::string_view::npos) address.port = std::string(word.substr(colon + 1));
            result.addresses.push_back(std::move(address));
        }
    }
    return result;
}

std::optional<ListenAddress> resolve_listen_address(const std::vector<AddressWord>& words, const Resolver& resolve) {
    ListenAddress result;
    for (const AddressWord& word : words) {
        std::optional<std::uint32_t> address = resolve(word.host);
        if (!address) return std::nullopt;
        result.address = *address;
        if (word.port) {
            // Port 0 would listen on a port nobody asked for, and a number
            // beyond 16 bits on some other one: both are refused.
            std::optional<std::uint32_t> port = parse_decimal(*word.port, 65535);
            if (!port || *port == 0) return std::nullopt;
            result.port = static_cast<std::uint16_t>(*port);
        }
    }
    return result;
}

}  // namespace vellum
