#include "http/line_list.h"

#include <gtest/gtest.h>

namespace vellum {
namespace {

TEST(LineList, SplitKeepsLineEndingsAsReceived) {
    LineList list = LineList::split("a\r\nb\n\nc", false, false);
    EXPECT_EQ(list, (LineList{"a\r\n", "b\n", "\n", "c"}));
}

TEST(LineList, SplitStripsEndingsAndSkipsEmptyLines) {
    LineList list = LineList::split("html\r\nhtm\r\n\r\nshtml", true, true);
    EXPECT_EQ(list, (LineList{"html", "htm", "shtml"}));
    EXPECT_EQ(LineList::split("a\r\n\r\n", true, false), (LineList{"a", ""}));
}

TEST(LineList, JoinOptions) {
    LineList list{"x", "", "\r\n", "\n", "y\r\n"};
    EXPECT_EQ(list.join(), "x\r\n\ny\r\n");
    EXPECT_EQ(list.join(false, true), "xy\r\n");
    EXPECT_EQ(list.join(true, true), "x\r\ny\r\n\r\n");
}

}  // namespace
}  // namespace vellum
