#include "proxy/request_origin.h"

#include <gtest/gtest.h>

#include "tests/support/string_source.h"

namespace vellum {
namespace {

RequestOrigin origin_of(const std::string& marker_lines) {
    testing::StringSource source("GET http://h/ HTTP/1.0\r\n" + marker_lines + "Host: h\r\n\r\n");
    int status = 0;
    const auto request = parse_request(source, status, RequestSender::own);
    EXPECT_TRUE(request);
    return request ? request_origin(*request) : RequestOrigin::browser;
}

TEST(RequestOrigin, FollowsTheProxysOwnMarkerLines) {
    EXPECT_EQ(origin_of(""), RequestOrigin::browser);
    EXPECT_EQ(origin_of("Vellum-Mode: RecMode\r\n"), RequestOrigin::autoget);
    EXPECT_EQ(origin_of("Vellum-Mode: GetOnly\r\n"), RequestOrigin::forced_get);
    // A forced get of a crawler's request copies the crawler's marker along.
    EXPECT_EQ(origin_of("Vellum-Mode: GetOnly\r\nVellum-LocalPath: C:\\s\r\nVellum-Mode: RecMode\r\n"),
              RequestOrigin::forced_autoget);
    // Only the exact lines count.
    EXPECT_EQ(origin_of("vellum-mode: RecMode\r\nVellum-Mode: recmode\r\n"), RequestOrigin::browser);
}

TEST(RequestOrigin, SaysWhoWaitsAndWhoIsTold) {
    EXPECT_FALSE(for_crawler(RequestOrigin::browser));
    EXPECT_FALSE(autoget_marked(RequestOrigin::browser));
    EXPECT_FALSE(forced_get_marked(RequestOrigin::browser));

    EXPECT_TRUE(for_crawler(RequestOrigin::autoget));
    EXPECT_TRUE(autoget_marked(RequestOrigin::autoget));
    EXPECT_FALSE(forced_get_marked(RequestOrigin::autoget));

    EXPECT_TRUE(for_crawler(RequestOrigin::forced_get));
    EXPECT_FALSE(autoget_marked(RequestOrigin::forced_get));
    EXPECT_TRUE(forced_get_marked(RequestOrigin::forced_get));

    EXPECT_TRUE(for_crawler(RequestOrigin::forced_autoget));
    EXPECT_TRUE(autoget_marked(RequestOrigin::forced_autoget));
    EXPECT_TRUE(forced_get_marked(RequestOrigin::forced_autoget));
}

}  // namespace
}  // namespace vellum
