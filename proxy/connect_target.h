// What a CONNECT asks for and whether the proxy may tunnel to it: the target
// in authority form ("host:port") taken apart, and the list of ports a tunnel
// may reach (the `tunnel.allowedPorts` setting, ports and ranges written as
// "563 8443 10000-10100"; port 443 is always allowed).
//
// Pure and portable; any thread. The parsers take text as received and
// never fail other than by returning none.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vellum {

// The method that asks for a tunnel, compared exactly as sent.
inline constexpr char kConnectMethod[] = "CONNECT";
// The port a tunnel may always reach: the one HTTPS is served on.
inline constexpr int kAlwaysAllowedTunnelPort = 443;
// The longest host name DNS can carry.
inline constexpr std::size_t kMaxTunnelHostLength = 253;
inline constexpr std::size_t kMaxTunnelLabelLength = 63;

struct ConnectTarget {
    std::string host;  // a DNS name or a dotted IPv4 address, as sent
    int port = 0;      // 1-65535

    bool operator==(const ConnectTarget&) const = default;
};

// "host:port" with a host of letters, digits, '-', '_' and dots (labels of
// at most 63, the whole at most 253 characters) and a port of decimal
// digits without a leading zero, 1 to 65535. None for anything else: no port,
// port 0 or above 65535, spaces or control bytes, userinfo ("user@host"),
// a bracketed IPv6 literal, a path, an over-long name.
std::optional<ConnectTarget> parse_connect_target(std::string_view target);

// The ports a tunnel may reach besides 443.
struct TunnelPorts {
    struct Range {
        int first = 0;
        int last = 0;
        bool operator==(const Range&) const = default;
    };
    std::vector<Range> ranges;

    bool allows(int port) const;
};

// The setting's text: ports and "first-last" ranges separated by spaces,
// tabs, commas or line ends. An entry that is not a port or a range of ports
// (1-65535, first not above last) is left out, so a typing mistake never opens
// more than the user wrote.
TunnelPorts parse_tunnel_ports(std::string_view text);

}  // namespace vellum
