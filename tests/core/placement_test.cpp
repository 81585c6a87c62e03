#include "base/placement.h"

#include <gtest/gtest.h>

namespace vellum {
namespace {

// A work area that does not start at the origin (a task bar at the top and
// on the left), so that every rule has to use the area's own edges.
const ScreenRect kWork{40, 30, 1040, 730};  // 1000 x 700

TEST(PlaceWindow, InsideStaysPut) {
    EXPECT_EQ(placed_position(kWork, 100, 200, 300, 200), (ScreenPoint{100, 200}));
}

TEST(PlaceWindow, PushedBackFromEachEdge) {
    EXPECT_EQ(placed_position(kWork, 0, 200, 300, 200), (ScreenPoint{40, 200}));
    EXPECT_EQ(placed_position(kWork, 900, 200, 300, 200), (ScreenPoint{740, 200}));
    EXPECT_EQ(placed_position(kWork, 100, 600, 300, 200), (ScreenPoint{100, 530}));
    EXPECT_EQ(placed_position(kWork, 100, -50, 300, 200), (ScreenPoint{100, 30}));
}

TEST(PlaceWindow, TooBigKeepsRightAndTopEdges) {
    // Right edge rule applied after the left one; top edge after the bottom one.
    EXPECT_EQ(placed_position(kWork, 100, 100, 1200, 900), (ScreenPoint{-160, 30}));
}

TEST(CenterWindow, CentredInTheWorkArea) {
    EXPECT_EQ(centered_position(kWork, 380, 280), (ScreenPoint{40 + 310, 30 + 210}));
}

TEST(CenterWindow, TooBigAlignsRightAndTop) {
    EXPECT_EQ(centered_position(kWork, 1100, 800), (ScreenPoint{1040 - 1100, 30}));
}

TEST(PlaceAtCursor, CentredOnTheCursor) {
    EXPECT_EQ(cursor_position(kWork, {500, 400}, 200, 100), (ScreenPoint{400, 350}));
}

TEST(PlaceAtCursor, ClampedAtEveryEdge) {
    EXPECT_EQ(cursor_position(kWork, {45, 35}, 200, 100), (ScreenPoint{40, 30}));
    EXPECT_EQ(cursor_position(kWork, {1039, 729}, 200, 100), (ScreenPoint{840, 630}));
    // Wider and taller than the area: the left-then-right and
    // bottom-then-top order decides which edge shows.
    EXPECT_EQ(cursor_position(kWork, {500, 400}, 1200, 800), (ScreenPoint{-160, 30}));
}

}  // namespace
}  // namespace vellum
