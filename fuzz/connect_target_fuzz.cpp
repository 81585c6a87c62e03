// CONNECT targets and the allowed-ports setting through their parsers: a
// target that parses is exactly "host:port" again, with a host the resolver
// can be handed and a port a socket can use; a port list only ever holds
// ranges of real ports, and 443 is always allowed.
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "proxy/connect_target.h"

namespace vellum::fuzz {
namespace {

void check_target(std::string_view input) {
    const std::optional<ConnectTarget> target = parse_connect_target(input);
    if (!target) return;
    require(target->port >= 1 && target->port <= 65535, "a target's port is a real port");
    require(!target->host.empty() && target->host.size() <= kMaxTunnelHostLength, "a target's host fits DNS");
    require(target->host.find_first_of(" \t\r\n@[]/:%\\") == std::string::npos,
            "a target's host holds no space, userinfo, bracket, path or colon");
    require(target->host.find('\0') == std::string::npos, "a target's host holds no zero byte");
    require(target->host + ":" + std::to_string(target->port) == input, "a parsed target is the input again");
}

void check_ports(std::string_view input) {
    const TunnelPorts ports = parse_tunnel_ports(input);
    require(ports.allows(kAlwaysAllowedTunnelPort), "443 is always allowed");
    require(!ports.allows(0) && !ports.allows(65536), "no list allows a port that does not exist");
    for (const TunnelPorts::Range& range : ports.ranges) {
        require(range.first >= 1 && range.first <= range.last && range.last <= 65535, "a range holds real ports");
        require(ports.allows(range.first) && ports.allows(range.last), "a listed range is allowed");
    }
}

}  // namespace
}  // namespace vellum::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vellum::fuzz;
    const std::string input = input_text(data, size);
    check_target(input);
    check_ports(input);
    return 0;
}
