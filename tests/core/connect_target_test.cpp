#include "proxy/connect_target.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vellum {
namespace {

TEST(ConnectTarget, AuthorityFormGivesHostAndPort) {
    EXPECT_EQ(parse_connect_target("www.example.com:443"), (ConnectTarget{"www.example.com", 443}));
    EXPECT_EQ(parse_connect_target("192.0.2.7:8443"), (ConnectTarget{"192.0.2.7", 8443}));
    EXPECT_EQ(parse_connect_target("a_b-c.example.:65535"), (ConnectTarget{"a_b-c.example.", 65535}));
    EXPECT_EQ(parse_connect_target("h:1"), (ConnectTarget{"h", 1}));
}

TEST(ConnectTarget, MalformedTargetsAreRefused) {
    const std::string long_label(64, 'a');
    std::string long_name;
    while (long_name.size() < 254) long_name += "abcdefgh.";
    for (const std::string& target : std::vector<std::string>{"", "host", "host:", ":443", "host:0", "host:65536", "host:99999999",
                                     "host:0443", "host:+443", "host:44 3", "ho st:443", "host :443", "host:443 ",
                                     "user@host:443", "user:pw@host:443", "[2001:db8::1]:443", "2001:db8::1:443",
                                     "host/path:443", "host:443/", "http://host:443", "ho%73t:443", "a..b:443",
                                     ".a:443", ".:443", "host\t:443", std::string("ho\0st:443", 9), "h\r\n:443"}) {
        EXPECT_FALSE(parse_connect_target(target)) << target;
    }
    EXPECT_FALSE(parse_connect_target(long_label + ".example:443"));
    EXPECT_TRUE(parse_connect_target(long_label.substr(1) + ".example:443"));
    EXPECT_FALSE(parse_connect_target(long_name.substr(0, 254) + ":443"));
}

TEST(TunnelPorts, FourFortyThreeAlwaysAndTheListedOnes) {
    const TunnelPorts none = parse_tunnel_ports("");
    EXPECT_TRUE(none.allows(443));
    EXPECT_FALSE(none.allows(8443));

    const TunnelPorts listed = parse_tunnel_ports(" 563\t8000-8100,9443\r\n");
    EXPECT_EQ(listed.ranges, (std::vector<TunnelPorts::Range>{{563, 563}, {8000, 8100}, {9443, 9443}}));
    for (int port : {443, 563, 8000, 8050, 8100, 9443}) EXPECT_TRUE(listed.allows(port)) << port;
    for (int port : {0, 22, 562, 7999, 8101, 65535}) EXPECT_FALSE(listed.allows(port)) << port;
}

TEST(TunnelPorts, MistypedEntriesOpenNothing) {
    const TunnelPorts ports = parse_tunnel_ports("abc 0 65536 9000-8000 1-2-3 -5 7- 08443 22x 1025-65535");
    EXPECT_EQ(ports.ranges, (std::vector<TunnelPorts::Range>{{1025, 65535}}));
}

}  // namespace
}  // namespace vellum
