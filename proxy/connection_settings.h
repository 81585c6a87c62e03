// The parts of the program's settings that every connection gets a copy of
// when it is accepted: the upstream proxy and dial-up. The program-wide
// settings record (shell/settings.h) holds one of each; the connection
// record (proxy/connection_record.h) holds the snapshot. Plain values; any
// thread may copy them, only the UI thread changes the program-wide ones.
#pragma once

#include <cstdint>
#include <string>

namespace vellum {

// The upstream HTTP proxy.
struct ProxySettings {
    std::string address;     // proxy.address: host name or dotted address
    std::string port;        // proxy.port: decimal text
    std::uint32_t proxy = 0; // proxy.proxy: forward through the upstream proxy

    bool operator==(const ProxySettings&) const = default;
};

// Dialling before going online.
struct DialUpSettings {
    std::uint32_t support = 0;  // dialUp.support: dial when the network is needed
    std::string dialStr;        // dialUp.dialStr: phone-book entry name
    std::string idStr;          // dialUp.idStr: user name
    std::string passwordStr;    // dialUp.passwordStr: password, kept as plain text

    bool operator==(const DialUpSettings&) const = default;
};

}  // namespace vellum
