#include "proxy/own_connections.h"

#include <gtest/gtest.h>

namespace vellum {
namespace {

constexpr std::uint64_t kSecond = 10'000'000;

TEST(OwnConnections, AnAnnouncedPortIsTakenOnceAndOnlyWhileFresh) {
    OwnConnections own;
    own.announce(50000, 100 * kSecond);
    EXPECT_FALSE(own.take(50001, 100 * kSecond));
    EXPECT_TRUE(own.take(50000, 101 * kSecond));
    EXPECT_FALSE(own.take(50000, 101 * kSecond));  // a second connection from the port is a stranger

    own.announce(50002, 100 * kSecond);
    EXPECT_FALSE(own.take(50002, 100 * kSecond + OwnConnections::kLifetime + 1));
    EXPECT_EQ(own.pending(), 0u);
}

TEST(OwnConnections, AnnouncingAPortAgainRenewsIt) {
    OwnConnections own;
    own.announce(50000, 0);
    own.announce(50000, 50 * kSecond);
    EXPECT_TRUE(own.take(50000, 100 * kSecond));
    EXPECT_EQ(own.pending(), 0u);
}

}  // namespace
}  // namespace vellum
