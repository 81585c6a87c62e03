#include "shell/command_line.h"

#include <gtest/gtest.h>

#include <map>

namespace vellum {
namespace {

// A resolver that knows a fixed set of names.
Resolver fake_resolver() {
    return [](const std::string& host) -> std::optional<std::uint32_t> {
        static const std::map<std::string, std::uint32_t> known = {
            {"127.0.0.1", 0x7F000001}, {"10.0.0.2", 0x0A000002}, {"proxyhost", 0xC0A80105}};
        auto it = known.find(host);
        if (it == known.end()) return std::nullopt;
        return it->second;
    };
}

TEST(CommandLineDebug, AutocloseCountsOnlyAfterDebug) {
    EXPECT_EQ(parse_command_line("").debug_mode, 0);
    EXPECT_EQ(parse_command_line("debug").debug_mode, 1);
    EXPECT_EQ(parse_command_line("debug autoclose").debug_mode, 2);
    EXPECT_EQ(parse_command_line("autoclose debug").debug_mode, 1);
    EXPECT_EQ(parse_command_line("autoclose").debug_mode, 0);
    // A second "debug" after "autoclose" is debug mode 1 again.
    EXPECT_EQ(parse_command_line("debug autoclose debug").debug_mode, 1);
}

TEST(CommandLineWords, CaseIsIgnoredAndRunsOfSpacesSkipped) {
    CommandLine line = parse_command_line("   DeBuG    AUTOCLOSE  Put  ");
    EXPECT_EQ(line.debug_mode, 2);
    EXPECT_TRUE(line.put);
    EXPECT_TRUE(line.addresses.empty());
}

TEST(CommandLineWords, OtherWordsAreAddressesInOrder) {
    CommandLine line = parse_command_line("10.0.0.2:8081 debug proxyhost");
    ASSERT_EQ(line.addresses.size(), 2u);
    EXPECT_EQ(line.addresses[0].host, "10.0.0.2");
    EXPECT_EQ(line.addresses[0].port, "8081");
    EXPECT_EQ(line.addresses[1].host, "proxyhost");
    EXPECT_FALSE(line.addresses[1].port);
    EXPECT_EQ(line.debug_mode, 1);
    EXPECT_FALSE(line.put);
}

TEST(ListenAddress, DefaultIsLoopback8080) {
    std::optional<ListenAddress> address = resolve_listen_address({}, fake_resolver());
    ASSERT_TRUE(address);
    EXPECT_EQ(address->address, 0x7F000001u);
    EXPECT_EQ(address->port, 8080);
}

TEST(ListenAddress, LaterWordOverridesAndKeepsThePortSoFar) {
    CommandLine line = parse_command_line("10.0.0.2:9000 proxyhost");
    std::optional<ListenAddress> address = resolve_listen_address(line.addresses, fake_resolver());
    ASSERT_TRUE(address);
    EXPECT_EQ(address->address, 0xC0A80105u);
    EXPECT_EQ(address->port, 9000);

    line = parse_command_line("proxyhost:9000 127.0.0.1:9001");
    address = resolve_listen_address(line.addresses, fake_resolver());
    ASSERT_TRUE(address);
    EXPECT_EQ(address->address, 0x7F000001u);
    EXPECT_EQ(address->port, 9001);
}

TEST(ListenAddress, UnknownHostFailsEvenWhenALaterWordWouldResolve) {
    CommandLine line = parse_command_line("nosuchhost 127.0.0.1");
    EXPECT_FALSE(resolve_listen_address(line.addresses, fake_resolver()));
}

TEST(ListenAddress, PortMustBeANumberThatFitsSixteenBits) {
    auto port_of = [](const char* text) -> std::optional<int> {
        CommandLine line = parse_command_line(text);
        std::optional<ListenAddress> address = resolve_listen_address(line.addresses, fake_resolver());
        if (!address) return std::nullopt;
        return address->port;
    };
    EXPECT_EQ(port_of("127.0.0.1:1"), 1);
    EXPECT_EQ(port_of("127.0.0.1:65535"), 65535);
    EXPECT_FALSE(port_of("127.0.0.1:65536"));
    EXPECT_FALSE(port_of("127.0.0.1:0"));
    EXPECT_FALSE(port_of("127.0.0.1:"));
    EXPECT_FALSE(port_of("127.0.0.1:80x"));
    EXPECT_FALSE(port_of("127.0.0.1:99999999999"));
}

}  // namespace
}  // namespace vellum
