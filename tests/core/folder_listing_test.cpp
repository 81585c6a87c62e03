// The kept listings' portable rules: when a folder's stamp can vouch for a
// listing, and the prefix look-up of kept names.
#include "store/folder_listing.h"

#include <gtest/gtest.h>

namespace vellum {
namespace {

constexpr std::uint64_t kMillisecond = 10'000;
// A stamp of a fine clock: not a whole number of 10 ms.
constexpr std::uint64_t kNow = 133'000'000'000'000'123ull;

FolderStamp at(std::uint64_t written) {
    return FolderStamp{written, 1};
}

TEST(StampTrustTest, AStampIsBelievedOnlyOnceNoChangeCanShareItsTick) {
    StampTrust trust;
    EXPECT_FALSE(trust.settled(at(kNow), kNow));
    EXPECT_FALSE(trust.settled(at(kNow), kNow + StampTrust::kSettledTick - 1));
    EXPECT_TRUE(trust.settled(at(kNow), kNow + StampTrust::kSettledTick));
    // FAT's two seconds, or a file system of whole seconds, wait longer.
    const std::uint64_t whole_second = kNow - 123;
    EXPECT_FALSE(trust.settled(at(whole_second), whole_second + StampTrust::kSettledCoarse - 1));
    EXPECT_TRUE(trust.settled(at(whole_second), whole_second + StampTrust::kSettledCoarse));
    // A stamp ahead of the clock (another machine's, or the clock set back)
    // proves nothing.
    EXPECT_FALSE(trust.settled(at(kNow + kMillisecond), kNow));
    // A folder made again just now has a fresh creation time.
    EXPECT_FALSE(trust.settled(FolderStamp{kNow - StampTrust::kSettledTick, kNow}, kNow + 1));
}

TEST(StampTrustTest, StampsCloserThanAnyTickProveAFineClock) {
    StampTrust trust;
    std::uint64_t stamp = kNow;
    for (int proof = 0; proof < StampTrust::kFineProofs; ++proof) {
        EXPECT_FALSE(trust.settled(at(stamp), stamp + 1));
        // A coarse stamp a tick on is the write's own, but proves nothing.
        EXPECT_TRUE(trust.own_change(at(stamp), at(stamp + 40'000), stamp + 40'100));
        EXPECT_FALSE(trust.settled(at(stamp + 40'000), stamp + 40'200));
        stamp += 40'000;
        EXPECT_TRUE(trust.own_change(at(stamp), at(stamp + StampTrust::kFineGap - 1), stamp + StampTrust::kFineGap));
        stamp += StampTrust::kFineGap - 1;
    }
    EXPECT_TRUE(trust.settled(at(stamp), stamp + 1));
    EXPECT_FALSE(trust.coarse());
}

TEST(StampTrustTest, AChangeOfOursThatLeftTheStampMarksTheClockCoarseForGood) {
    StampTrust trust;
    EXPECT_FALSE(trust.own_change(at(kNow), at(kNow), kNow + 20));
    EXPECT_TRUE(trust.coarse());
    // Only the last-write time counts: a creation time that moved alone is
    // no stamp of the change.
    StampTrust created;
    EXPECT_FALSE(created.own_change(FolderStamp{kNow, 1}, FolderStamp{kNow, 2}, kNow + 20));
    EXPECT_TRUE(created.coarse());
    // Fine-looking stamps afterwards do not bring the trust back.
    for (int i = 0; i < 2 * StampTrust::kFineProofs; ++i) {
        const std::uint64_t stamp = kNow + (i + 1) * kMillisecond;
        EXPECT_TRUE(trust.own_change(at(stamp), at(stamp + 10), stamp + 20));
    }
    EXPECT_FALSE(trust.settled(at(kNow + kMillisecond), kNow + 2 * kMillisecond));
    EXPECT_TRUE(trust.settled(at(kNow), kNow + StampTrust::kSettledTick));
}

TEST(StampTrustTest, AStampAfterTheWriteEndedOrSetBackIsSomeoneElses) {
    StampTrust trust;
    EXPECT_FALSE(trust.own_change(at(kNow), at(kNow + 30), kNow + 20));
    EXPECT_FALSE(trust.own_change(at(kNow), at(kNow - 30), kNow + 20));
    EXPECT_FALSE(trust.coarse());
    // Neither counts as a proof.
    EXPECT_TRUE(trust.own_change(at(kNow + 30), at(kNow + 45), kNow + 50));
    EXPECT_FALSE(trust.settled(at(kNow + 45), kNow + 60));
}

TEST(FolderNamesTest, PrefixLookUpFindsExactlyTheNamesThatBeginWithIt) {
    FolderNames names;
    names.add(u"PAGE.HTML", {"page.html", 10, false});
    names.add(u"PAGE.HTML(20240101000000 TEXT%2FHTML)", {"page.html(20240101000000 text%2Fhtml)", 0, false});
    names.add(u"PAGE.HTM", {"page.htm", 3, false});
    names.add(u"PAGE.HTMLX", {"Page.htmlx", 0, true});
    names.add(u"PAGE.HTMM", {"page.htmm", 0, false});
    std::vector<std::string> found;
    for (const PageEntry& entry : names.with_prefix(u"PAGE.HTML")) found.push_back(entry.name);
    EXPECT_EQ(found, (std::vector<std::string>{"page.html", "page.html(20240101000000 text%2Fhtml)", "Page.htmlx"}));
    EXPECT_TRUE(names.with_prefix(u"PAGE.HTML").back().folder);
    EXPECT_EQ(names.with_prefix(u"PAGE.HTMLXY").size(), 0u);
    EXPECT_EQ(names.with_prefix(u"").size(), 5u);

    EXPECT_EQ(names.remove(u"PAGE.HTM"), 1u);
    EXPECT_EQ(names.remove(u"PAGE.HTM"), 0u);
    ASSERT_NE(names.find(u"PAGE.HTML"), nullptr);
    EXPECT_EQ(names.find(u"PAGE.HTML")->size, 10u);
    EXPECT_FALSE(names.ambiguous());
}

TEST(FolderNamesTest, NamesThatFoldAlikeMakeTheFolderAmbiguousUntilCleared) {
    FolderNames names;
    names.add(u"A", {"a", 1, false});
    names.add(u"A", {"A", 2, false});
    EXPECT_TRUE(names.ambiguous());
    EXPECT_EQ(names.find(u"A"), nullptr);
    EXPECT_EQ(names.with_prefix(u"A").size(), 2u);
    // Removing one of them leaves the doubt: which one went is not known.
    EXPECT_EQ(names.remove(u"A"), 2u);
    EXPECT_TRUE(names.ambiguous());
    names.clear();
    EXPECT_FALSE(names.ambiguous());
    EXPECT_EQ(names.size(), 0u);
}

}  // namespace
}  // namespace vellum
