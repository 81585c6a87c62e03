// The program's command line: debug mode, the "put" option and the listening
// address. Words are separated by spaces and compared without regard to case.
//
// Parsing is pure; resolving a host name goes through a Resolver the caller
// supplies (the Win32 side uses the system resolver). UI thread at start-up.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vellum {

// The proxy's default listening address, 127.0.0.1:8080 (host byte order).
inline constexpr std::uint32_t kDefaultListenAddress = 0x7F000001;
inline constexpr std::uint16_t kDefaultListenPort = 8080;

// A listening-address word: host, or host:port.
struct AddressWord {
    std::string host;
    std::optional<std::string> port;  // the text after the first ':'
};

struct CommandLine {
    int debug_mode = 0;  // 0 off, 1 "debug", 2 "debug" then "autoclose"
    bool put = false;    // show the listening address once listening
    std::vector<AddressWord> addresses;  // in command-line order
};

CommandLine parse_command_line(std::string_view text);

// IPv4 address in host byte order for a host text (dotted or a name), or none.
using Resolver = std::function<std::optional<std::uint32_t>(const std::string& host)>;

struct ListenAddress {
    std::uint32_t address = kDefaultListenAddress;  // host byte order
    std::uint16_t port = kDefaultListenPort;
};

// Applies the address words in order over the default: a later word overrides
// an earlier one, a word without a port keeps the port set so far. None when a
// host can't be resolved or a port is not a number from 1 to 65535.
std::optional<ListenAddress> resolve_listen_address(const std::vector<AddressWord>& words, const Resolver& resolve);

}  // namespace vellum
