#include "proxy/connect_target.h"

#include <algorithm>

namespace vellum {
namespace {

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

bool is_host_character(char c) {
    return is_digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '_' || c == '.';
}

// Decimal digits without a leading zero, 1 to 65535.
std::optional<int> parse_port(std::string_view text) {
    if (text.empty() || text.size() > 5 || text[0] == '0') return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (!is_digit(c)) return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value > 65535) return std::nullopt;
    return value;
}

bool is_host(std::string_view host) {
    if (host.empty() || host.size() > kMaxTunnelHostLength) return false;
    if (!std::all_of(host.begin(), host.end(), is_host_character)) return false;
    // Every label has a character and fits DNS; one trailing dot (the root) is a name's own.
    std::string_view labels = host.back() == '.' ? host.substr(0, host.size() - 1) : host;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = labels.find('.', start);
        const std::size_t length = (dot == std::string_view::npos ? labels.size() : dot) - start;
        if (length == 0 || length > kMaxTunnelLabelLength) return false;
        if (dot == std::string_view::npos) return true;
        start = dot + 1;
    }
}

}  // namespace

std::optional<ConnectTarget> parse_connect_target(std::string_view target) {
    // The last colon: an IPv6 literal would have more, and its brackets are
    // no host character, so it is refused whole.
    const std::size_t colon = target.rfind(':');
    if (colon == std::string_view::npos) return std::nullopt;
    const std::string_view host = target.substr(0, colon);
    const std::optional<int> port = parse_port(target.substr(colon + 1));
    if (!port || !is_host(host)) return std::nullopt;
    return ConnectTarget{std::string(host), *port};
}

bool TunnelPorts::allows(int port) const {
    if (port == kAlwaysAllowedTunnelPort) return true;
    return std::any_of(ranges.begin(), ranges.end(),
                       [port](const Range& range) { return port >= range.first && port <= range.last; });
}

TunnelPorts parse_tunnel_ports(std::string_view text) {
    TunnelPorts ports;
    constexpr std::string_view kSeparators = " \t,\r\n";
    std::size_t start = 0;
    while (start < text.size()) {
        start = text.find_first_not_of(kSeparators, start);
        if (start == std::string_view::npos) break;
        std::size_t end = text.find_first_of(kSeparators, start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view entry = text.substr(start, end - start);
        start = end;
        const std::size_t dash = entry.find('-');
        const std::optional<int> first = parse_port(entry.substr(0, dash));
        const std::optional<int> last = dash == std::string_view::npos ? first : parse_port(entry.substr(dash + 1));
        if (first && last && *first <= *last) ports.ranges.push_back({*first, *last});
    }
    return ports;
}

}  // namespace vellum
