#include "proxy/content_kind.h"

#include <gtest/gtest.h>

namespace vellum {
namespace {

TEST(ContentKind, ByTypePrefixWithoutCase) {
    EXPECT_EQ(content_kind(std::nullopt), 0);
    EXPECT_EQ(content_kind("text/html; charset=Shift_JIS"), 2);
    EXPECT_EQ(content_kind("TEXT/HTML"), 2);
    EXPECT_EQ(content_kind("image/gif"), 3);
    EXPECT_EQ(content_kind("Video/mpeg"), 4);
    EXPECT_EQ(content_kind("text/plain"), 5);
    EXPECT_EQ(content_kind("text/htm"), 5);
    EXPECT_EQ(content_kind("application/octet-stream"), 1);
    EXPECT_EQ(content_kind(""), 1);
}

}  // namespace
}  // namespace vellum
