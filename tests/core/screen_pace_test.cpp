// Paced progress: what a bar is told while a body moves, and where it ends.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "base/screen_pace.h"

namespace vellum {
namespace {

TEST(PaceGateTest, LetsTheFirstThroughThenOnePerPace) {
    PaceGate gate;
    EXPECT_TRUE(gate.due(5));
    gate.pass(5);
    EXPECT_FALSE(gate.due(5));
    EXPECT_FALSE(gate.due(5 + kScreenPaceMs - 1));
    EXPECT_TRUE(gate.due(5 + kScreenPaceMs));
}

TEST(ProgressPaceTest, RepeatsAndReportsWithinAPaceAreHeldBackButTheLastAlwaysComes) {
    ProgressPace pace;
    EXPECT_TRUE(pace.report(1, 0));
    EXPECT_FALSE(pace.report(1, 100));  // a repeat, however late
    EXPECT_TRUE(pace.report(2, 110));
    EXPECT_FALSE(pace.report(3, 120));  // within the pace of the last report
    EXPECT_FALSE(pace.report(4, 130));
    EXPECT_TRUE(pace.report(4, 110 + kScreenPaceMs));  // held back before, due now
    EXPECT_FALSE(pace.report(100, 111 + kScreenPaceMs));
    EXPECT_EQ(pace.finish(), 100);
    EXPECT_EQ(pace.finish(), std::nullopt);  // once
}

TEST(ProgressPaceTest, NothingToFinishWhenTheLastWasReportedOrNoneCame) {
    ProgressPace none;
    EXPECT_EQ(none.finish(), std::nullopt);
    ProgressPace reported;
    EXPECT_TRUE(reported.report(100, 7));
    EXPECT_EQ(reported.finish(), std::nullopt);
}

// Whatever the timing, the reports are a subsequence of the percents, never
// two equal in a row, at most one per pace before the end, and the bar is
// left on the last percent.
TEST(ProgressPaceTest, RandomTimingsKeepTheBarsEndAndPace) {
    std::mt19937 random(22);
    for (int round = 0; round < 200; ++round) {
        ProgressPace pace;
        std::uint64_t now = random() % 1000;
        int percent = 0;
        std::vector<std::pair<std::uint64_t, int>> told;
        const int chunks = 1 + static_cast<int>(random() % 300);
        for (int i = 0; i < chunks; ++i) {
            now += random() % 20;
            percent = std::min(100, percent + static_cast<int>(random() % 3));
            if (pace.report(percent, now)) told.emplace_back(now, percent);
        }
        if (std::optional<int> last = pace.finish()) told.emplace_back(now, *last);
        ASSERT_FALSE(told.empty());
        EXPECT_EQ(told.back().second, percent);
        for (std::size_t i = 1; i < told.size(); ++i) {
            EXPECT_NE(told[i].second, told[i - 1].second);
            if (i + 1 < told.size()) {
                EXPECT_GE(told[i].first - told[i - 1].first, kScreenPaceMs);
            }
        }
    }
}

TEST(SharedBarPaceTest, ARelayShorterThanAPaceNeverMovesTheBar) {
    SharedBarPace bar;
    for (std::uint64_t now = 1000; now < 1000 + kScreenPaceMs; now += 3) EXPECT_FALSE(bar.due(1000, now));
    EXPECT_TRUE(bar.due(1000, 1000 + kScreenPaceMs));
}

TEST(SharedBarPaceTest, RelaysSideBySideShareOnePace) {
    SharedBarPace bar;
    EXPECT_TRUE(bar.due(0, 100));
    EXPECT_FALSE(bar.due(50, 110)) << "another relay, within the pace of the first one's report";
    EXPECT_FALSE(bar.due(0, 99 + kScreenPaceMs));
    EXPECT_TRUE(bar.due(50, 100 + kScreenPaceMs));
    EXPECT_FALSE(bar.due(0, 100 + kScreenPaceMs));
}

}  // namespace
}  // namespace vellum
