#include "autoget/page_tree.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "autoget/url_match.h"
#include "tests/support/fake_page_tree_view.h"

namespace vellum {
namespace {

using ::testing::ElementsAre;
using testing::FakePageTreeView;

ParsedUrl url_of(const std::string& text) {
    std::optional<ParsedUrl> url = parse_url(text);
    EXPECT_TRUE(url) << text;
    return url.value_or(ParsedUrl{});
}

AutoGetJob job_for(const std::string& restriction, int maxDepth = 3) {
    AutoGetJob job;
    job.baseUrl = restriction;
    job.maxDepth = maxDepth;
    job.restrictions = LineList{restriction};
    return job;
}

class PageTreeTest : public ::testing::Test {
protected:
    FakePageTreeView view;
    PageTree tree{view};

    PageNode* base(const std::string& url, AutoGetJob job) {
        const ParsedUrl parsed = url_of(url);
        return tree.add_child(false, nullptr, &parsed, std::make_unique<AutoGetJob>(std::move(job)));
    }
    PageNode* base(const std::string& url) { return base(url, job_for("http://h/")); }
    PageNode* link(PageNode* parent, const std::string& url) { return add(parent, url, true); }
    PageNode* resource(PageNode* parent, const std::string& url) { return add(parent, url, false); }
    PageNode* add(PageNode* parent, const std::string& url, bool isLink) {
        const ParsedUrl parsed = url_of(url);
        return tree.add_child(isLink, parent, &parsed, nullptr);
    }
    // The fetch order of a whole run from the start.
    std::vector<std::string> run(bool linkOnly = false, const LineList& extensions = {"html", "htm", "shtml"},
                                 int result = 5) {
        std::vector<std::string> order;
        PageNode* node = nullptr;
        while ((node = tree.next_node(node, linkOnly, extensions)) != nullptr) {
            order.push_back(node->url());
            tree.record_fetch_result(*node, result);
        }
        return order;
    }
};

TEST(PageStateImage, FirstMatchWinsInTableOrder) {
    FakePageTreeView view;
    PageTree tree(view);
    const ParsedUrl url = url_of("http://h/");
    PageNode* node = tree.add_child(false, nullptr, &url, std::make_unique<AutoGetJob>(job_for("http://h/")));
    ASSERT_TRUE(node);
    auto image = [&] { return page_state_image(*node); };
    EXPECT_EQ(image(), 5);  // waiting
    for (auto [result, expected] : std::vector<std::pair<int, int>>{
             {1, 2}, {2, 1}, {3, 7}, {4, 8}, {5, 9}, {100, 10}, {300, 14}, {304, 14}, {399, 14},
             {400, 11}, {404, 11}, {499, 11}, {200, 5}, {500, 5}, {6, 5}}) {
        tree.record_fetch_result(*node, result);
        EXPECT_EQ(image(), expected) << result;
        EXPECT_EQ(FakePageTreeView::of(node->item()).state, expected);
    }
    tree.set_activity(*node, 2);
    EXPECT_EQ(image(), 12);
    tree.set_activity(*node, 1);
    EXPECT_EQ(image(), 6);
    tree.record_fetch_result(*node, -5);
    EXPECT_EQ(image(), 3);  // an error outranks the result
    ASSERT_EQ(tree.reset_to_waiting(*node, nullptr), TreeEdit::done);
    tree.record_fetch_result(*node, -401);
    EXPECT_EQ(image(), 15);
    tree.set_activity(*node, 1);
    EXPECT_EQ(image(), 15);  // an error outranks the activity
    tree.set_activity(*node, 0);
    tree.toggle_skip(*node);
    EXPECT_EQ(image(), 13);
    tree.toggle_skip(*node);
    EXPECT_EQ(image(), 15);
}

TEST_F(PageTreeTest, LabelsShowTheDepthOfLinksOnly) {
    PageNode* top = base("http://h/");
    PageNode* page = link(top, "http://h/a.html#part");
    PageNode* image = resource(page, "http://h/b.gif?x=1");
    EXPECT_EQ(view.dump(),
              "http://h/ [5]\n"
              "  (1) http://h/a.html [5]\n"
              "    http://h/b.gif?x=1 [5]\n");
    EXPECT_EQ(page->url(), "http://h/a.html");            // no fragment in the url ...
    EXPECT_EQ(page->urlRecord().fragment, "part");        // ... the record keeps what it was given
    EXPECT_EQ(image->depth(), 1);
    EXPECT_EQ(page->job(), top->job());
    EXPECT_EQ(view.last_shown, &FakePageTreeView::of(image->item()));
}

TEST_F(PageTreeTest, AddChildRefusals) {
    PageNode* top = base("http://h/");
    ParsedUrl no_path = url_of("http://h/");
    no_path.path.reset();
    EXPECT_EQ(tree.add_child(true, top, nullptr, nullptr), nullptr);
    EXPECT_EQ(tree.add_child(true, top, &no_path, nullptr), nullptr);
    const ParsedUrl fine = url_of("http://h/x");
    EXPECT_EQ(tree.add_child(true, nullptr, &fine, nullptr), nullptr);  // neither parent nor job
    ParsedUrl no_host = url_of("http://h/x");
    no_host.host.reset();
    EXPECT_EQ(tree.add_child(true, top, &no_host, nullptr), nullptr);  // url_text fails
    EXPECT_EQ(tree.node_count(), 1u);

    view.fail_inserts = true;
    EXPECT_EQ(tree.add_child(true, top, &fine, nullptr), nullptr);
    EXPECT_EQ(tree.node_count(), 1u);
    EXPECT_EQ(top->firstChild(), nullptr);
}

TEST_F(PageTreeTest, NoDuplicateSiblingsUnlessTheFirstFailed) {
    PageNode* top = base("http://h/");
    PageNode* first = link(top, "http://h/a.html");
    ASSERT_TRUE(first);
    EXPECT_EQ(link(top, "http://h/a.html#elsewhere"), nullptr);
    EXPECT_EQ(resource(top, "http://h/a.html"), nullptr);  // the kind does not matter
    EXPECT_TRUE(link(first, "http://h/a.html"));            // under another parent it is a new node ...

    tree.record_fetch_result(*first, -3);
    PageNode* again = link(top, "http://h/a.html");
    ASSERT_TRUE(again);
    EXPECT_EQ(again->skipReason(), 4);  // ... though the duplicate rule still counts the failed one
    EXPECT_EQ(link(top, "http://h/a.html"), nullptr);

    // Base URLs may repeat; each has its own job and its own duplicates.
    PageNode* second_top = base("http://h/");
    ASSERT_TRUE(second_top);
    EXPECT_NE(second_top->job(), top->job());
    EXPECT_EQ(link(second_top, "http://h/a.html")->skipReason(), 0);
}

TEST_F(PageTreeTest, DepthLimit) {
    PageNode* top = base("http://h/", job_for("http://h/", 1));
    PageNode* one = link(top, "http://h/1.html");
    PageNode* two = link(one, "http://h/2.html");
    PageNode* image = resource(one, "http://h/i.gif");
    EXPECT_EQ(one->skipReason(), 0);
    EXPECT_EQ(two->depth(), 2);
    EXPECT_EQ(two->skipReason(), 1);
    EXPECT_EQ(image->skipReason(), 0);  // resources stay at their page's depth
    EXPECT_EQ(FakePageTreeView::of(two->item()).state, 4);
}

TEST_F(PageTreeTest, SkipExtensionsAndImageMaps) {
    AutoGetJob job = job_for("http://h/");
    PageNode* top = base("http://h/", job);
    EXPECT_EQ(link(top, "http://h/nav.map")->skipReason(), 0);  // no skip list: admitted

    job.skipExtensions = LineList{"", "ZIP"};
    PageNode* listed = base("http://h/", job);
    EXPECT_EQ(link(listed, "http://h/nav.MAP")->skipReason(), 3);
    EXPECT_EQ(resource(listed, "http://h/nav.map")->skipReason(), 0);  // only hyperlinks are image maps
    EXPECT_EQ(resource(listed, "http://h/a.zip")->skipReason(), 2);
    EXPECT_EQ(link(listed, "http://h/b.Zip?x.html#y.html")->skipReason(), 2);
    EXPECT_EQ(link(listed, "http://h/c.zip/")->skipReason(), 0);  // "zip/" is the extension
    EXPECT_EQ(link(listed, "http://h/noext")->skipReason(), 0);
}

TEST_F(PageTreeTest, RestrictionsAtCharacterPositions) {
    AutoGetJob job = job_for("http://h/");
    job.restrictions = LineList{"", "/docs/"};
    PageNode* top = base("http://h/", job);
    EXPECT_EQ(top->skipReason(), 0);  // the base is not a link
    EXPECT_EQ(link(top, "http://h/docs/a.html")->skipReason(), 0);
    EXPECT_EQ(link(top, "http://h/Docs/a.html")->skipReason(), 2);  // case-sensitive
    EXPECT_EQ(resource(top, "http://h/img/a.gif")->skipReason(), 0);  // resources pass without restrictAll

    // "\x82\x5C" is one character whose trail byte is a backslash; a
    // restriction that starts at that trail byte is not found.
    job.restrictions = LineList{"\\x"};
    PageNode* kanji = base("http://h/", job);
    EXPECT_EQ(link(kanji, "http://h/\x82\\x.html")->skipReason(), 2);
    EXPECT_EQ(link(kanji, "http://h/a\\x.html")->skipReason(), 0);
}

// https:// pages come under the same rules: a restriction line names the
// scheme, so "https://h/dir/" admits https:// links under it and nothing of
// http://, and a reservation of an https:// page restricts to its folder.
TEST_F(PageTreeTest, HttpsLinksUnderTheSameRules) {
    PageNode* top = base("https://h/dir/", job_for("https://h/dir/"));
    ASSERT_TRUE(top);
    EXPECT_EQ(top->url(), "https://h/dir/");
    EXPECT_EQ(link(top, "https://h/dir/a.html")->skipReason(), 0);
    EXPECT_EQ(link(top, "https://h/other/a.html")->skipReason(), 2);
    EXPECT_EQ(link(top, "http://h/dir/a.html")->skipReason(), 2);
    PageNode* twin = link(link(top, "https://h/dir/b.html"), "https://h/dir/a.html#again");
    ASSERT_TRUE(twin);
    EXPECT_EQ(twin->skipReason(), 4);  // the same page, the fragment aside

    AutoGetSettings defaults;
    const ParsedUrl url = url_of("https://h:8443/docs/index.html");
    ASSERT_EQ(reserve_base_url(tree, defaults, "C:\\save", "GET", "https://h:8443/docs/index.html", url, std::nullopt,
                               std::nullopt, [] { return true; }),
              ReserveOutcome::added);
    PageNode* reserved = top->nextSibling();
    ASSERT_TRUE(reserved);
    EXPECT_EQ(reserved->url(), "https://h:8443/docs/index.html");
    EXPECT_EQ(reserved->job()->restrictions, LineList{"https://h:8443/docs/"});
}

TEST_F(PageTreeTest, EmptiedRestrictionsSkipEveryHyperlink) {
    AutoGetJob job = job_for("http://h/");
    job.restrictions = LineList{};
    PageNode* top = base("http://h/", job);
    EXPECT_EQ(top->skipReason(), 0);
    EXPECT_EQ(link(top, "http://h/a.html")->skipReason(), 2);
    EXPECT_EQ(resource(top, "http://h/a.gif")->skipReason(), 0);

    job.restrictions.reset();
    job.restrictAll = 1;
    PageNode* all = base("http://h/x/", job);
    EXPECT_EQ(resource(all, "http://h/a.gif")->skipReason(), 2);
    EXPECT_EQ(all->skipReason(), 2);  // with restrictAll the rule reaches the base node too
}

TEST_F(PageTreeTest, DuplicatesWithinTheBaseUrl) {
    PageNode* top = base("http://h/");
    PageNode* a = link(top, "http://h/a.html");
    PageNode* b = link(top, "http://h/b.html");
    // Found twice at one depth: the first in pre-order is fetched.
    PageNode* x_under_a = link(a, "http://h/x.html");
    PageNode* x_under_b = link(b, "http://h/x.html");
    EXPECT_EQ(x_under_a->skipReason(), 0);
    EXPECT_EQ(x_under_b->skipReason(), 4);
    // Added later but standing earlier: the waiting copy after it is ruled
    // out when the walk reaches it.
    PageNode* y_under_b = link(b, "http://h/y.html");
    PageNode* y_under_a = link(a, "http://h/y.html");
    EXPECT_EQ(y_under_b->skipReason(), 0);
    EXPECT_EQ(y_under_a->skipReason(), 0);
    EXPECT_EQ(run(), (std::vector<std::string>{"http://h/", "http://h/a.html", "http://h/x.html",
                                               "http://h/y.html", "http://h/b.html"}));
    EXPECT_EQ(y_under_b->skipReason(), 4);
    EXPECT_EQ(y_under_a->result(), 5);

    // The same URL under another base URL is no duplicate.
    PageNode* other = base("http://h/");
    EXPECT_EQ(link(other, "http://h/x.html")->skipReason(), 0);
}

TEST_F(PageTreeTest, ShallowerCopyTakesTheResultAndIsExpandedAgain) {
    PageNode* top = base("http://h/", job_for("http://h/", 2));
    PageNode* a = link(top, "http://h/a.html");
    PageNode* x_deep = link(a, "http://h/x.html");
    tree.record_fetch_result(*x_deep, 2);
    link(x_deep, "http://h/z.html");  // depth 3: too deep from here
    EXPECT_EQ(x_deep->firstChild()->skipReason(), 1);

    PageNode* frame = resource(top, "http://h/frame.html");
    tree.record_fetch_result(*frame, 2);
    PageNode* x_shallow = link(frame, "http://h/x.html");  // depth 1, after the deep copy
    EXPECT_EQ(x_shallow->skipReason(), 0);
    EXPECT_EQ(x_shallow->result(), 2);
    EXPECT_EQ(FakePageTreeView::of(x_shallow->item()).state, 1);

    // The walk hands it out for expansion from the stored copy ...
    PageNode* next = tree.next_node(frame, false, {});
    EXPECT_EQ(next, x_shallow);
    // ... and its links, one level shallower now, are within reach.
    EXPECT_EQ(link(x_shallow, "http://h/z.html")->skipReason(), 0);
}

TEST_F(PageTreeTest, UserSkippedCopyMakesDuplicates) {
    PageNode* top = base("http://h/");
    PageNode* frame = resource(top, "http://h/f.html");
    PageNode* a = link(top, "http://h/a.html");
    tree.toggle_skip(*a);
    EXPECT_EQ(a->skipReason(), 100);
    PageNode* shallow_copy = link(frame, "http://h/a.html");  // earlier in the walk, same depth
    EXPECT_EQ(shallow_copy->depth(), 1);
    EXPECT_EQ(shallow_copy->skipReason(), 4);
    tree.toggle_skip(*a);
    EXPECT_EQ(a->skipReason(), 0);
    tree.toggle_skip(*shallow_copy);  // any reason is cleared
    EXPECT_EQ(shallow_copy->skipReason(), 0);
}

TEST_F(PageTreeTest, WalkOrderSkipsAndCollapses) {
    PageNode* top = base("http://h/");
    PageNode* a = link(top, "http://h/a.html");
    link(a, "http://h/a1.html");
    PageNode* b = link(top, "http://h/b.html");
    link(b, "http://h/b1.html");
    PageNode* c = link(top, "http://h/c.html");
    tree.toggle_skip(*b);
    tree.record_fetch_result(*c, -3);
    PageNode* second = base("http://h/2/", job_for("http://h/"));
    view.log.clear();

    EXPECT_EQ(run(), (std::vector<std::string>{"http://h/", "http://h/a.html", "http://h/a1.html", "http://h/2/"}));
    // Climbing out of a's subtree collapses a; out of the first base, c's
    // parent; nothing collapses the root.
    EXPECT_THAT(view.log, ElementsAre("collapse (1) http://h/a.html", "collapse http://h/"));
    EXPECT_EQ(tree.next_node(second, false, {}), nullptr);

    // A fetched page with children is passed over, its children are not;
    // an HTML page without children is taken again.
    ASSERT_EQ(tree.reset_to_waiting(*c, nullptr), TreeEdit::done);
    tree.record_fetch_result(*c, 2);
    EXPECT_EQ(run(), (std::vector<std::string>{"http://h/c.html"}));
}

TEST_F(PageTreeTest, LinkStructureOnlyRun) {
    PageNode* top = base("http://h/");
    link(top, "http://h/dir/");
    link(top, "http://h/page.HTM");
    link(top, "http://h/pic.gif");
    link(top, "http://h/cgi?x.html");
    EXPECT_EQ(run(true), (std::vector<std::string>{"http://h/", "http://h/dir/", "http://h/page.HTM"}));
    EXPECT_EQ(top->firstChild()->nextSibling()->nextSibling()->result(), 0);  // stays waiting
    EXPECT_EQ(run(false), (std::vector<std::string>{"http://h/pic.gif", "http://h/cgi?x.html"}));
}

TEST_F(PageTreeTest, BusySubtreesRefuseDeleteAndReset) {
    PageNode* top = base("http://h/");
    PageNode* a = link(top, "http://h/a.html");
    PageNode* a1 = link(a, "http://h/a1.html");
    EXPECT_EQ(tree.delete_subtree(*top, a1), TreeEdit::busy);
    EXPECT_EQ(tree.reset_to_waiting(*a, a1), TreeEdit::busy);
    tree.set_activity(*a1, 2);
    EXPECT_EQ(tree.delete_subtree(*top, nullptr), TreeEdit::busy);
    EXPECT_EQ(tree.node_count(), 3u);
    tree.set_activity(*a1, 0);
    EXPECT_EQ(std::string(kTreeBusyMessage), "取得中のツリーです");
}

TEST_F(PageTreeTest, DeleteGoesDeepestFirstAndFreesTheJob) {
    PageNode* top = base("http://h/");
    PageNode* a = link(top, "http://h/a.html");
    link(a, "http://h/a1.html");
    link(a, "http://h/a2.html");
    link(top, "http://h/b.html");
    PageNode* kept = base("http://h/k/");
    view.log.clear();
    ASSERT_EQ(tree.delete_subtree(*top, nullptr), TreeEdit::done);
    EXPECT_THAT(view.log, ElementsAre("delete (2) http://h/a1.html", "delete (2) http://h/a2.html",
                                      "delete (1) http://h/a.html", "delete (1) http://h/b.html",
                                      "delete http://h/"));
    EXPECT_EQ(tree.first_base(), kept);
    EXPECT_EQ(tree.node_count(), 1u);
    EXPECT_EQ(view.live_items, 1);
    // Its URLs are no longer known as duplicates.
    EXPECT_EQ(link(kept, "http://h/a.html")->skipReason(), 0);
}

TEST_F(PageTreeTest, ResetKeepsTheSkipReason) {
    PageNode* top = base("http://h/", job_for("http://h/", 0));
    PageNode* deep = link(top, "http://h/a.html");
    ASSERT_EQ(deep->skipReason(), 1);
    tree.record_fetch_result(*top, 2);
    link(top, "http://h/b.html");
    tree.record_fetch_result(*deep, 404);
    ASSERT_EQ(tree.reset_to_waiting(*top, nullptr), TreeEdit::done);
    EXPECT_EQ(top->firstChild(), nullptr);
    EXPECT_EQ(top->result(), 0);
    EXPECT_EQ(view.dump(), "http://h/ [5]\n");

    PageNode* again = link(top, "http://h/a.html");
    tree.record_fetch_result(*again, -7);
    ASSERT_EQ(tree.reset_to_waiting(*again, nullptr), TreeEdit::done);
    EXPECT_EQ(again->error(), 0);
    EXPECT_EQ(again->skipReason(), 1);
}

TEST_F(PageTreeTest, SearchBothWaysWithoutWrapping) {
    PageNode* top = base("http://h/");
    PageNode* a = link(top, "http://h/Alpha.html");
    PageNode* a1 = link(a, "http://h/beta.html");
    PageNode* b = link(top, "http://h/alpha2.html");
    PageNode* second = base("http://h/z/", job_for("http://h/"));

    EXPECT_EQ(tree.search_tree(top, "alpha", true, false), b);
    EXPECT_EQ(view.selected, &FakePageTreeView::of(b->item()));
    EXPECT_EQ(tree.search_tree(top, "alpha", false, false), a);
    EXPECT_EQ(tree.search_tree(b, "alpha", false, false), nullptr);  // no wrapping
    EXPECT_EQ(tree.search_tree(b, "h/", true, false), second);       // into the next base
    EXPECT_EQ(tree.search_tree(second, "beta", true, true), a1);     // deepest last descendant first
    EXPECT_EQ(tree.search_tree(a1, "h/", true, true), a);
    EXPECT_EQ(tree.search_tree(a, "h/", true, true), top);
    EXPECT_EQ(tree.search_tree(top, "h/", true, true), nullptr);
    view.selected = nullptr;
    EXPECT_EQ(tree.search_tree(top, "nowhere", false, false), nullptr);
    EXPECT_EQ(view.selected, nullptr);

    // A match never starts on a trail byte: "\x83\x41" is one character
    // whose trail byte is "A".
    PageNode* kana = link(second, "http://h/z/\x83\x41.html");
    EXPECT_EQ(tree.search_tree(second, "A.html", true, false), nullptr);
    EXPECT_EQ(tree.search_tree(second, "a.HTML", false, false), nullptr);
    EXPECT_EQ(tree.search_tree(second, "\x83\x41.HTML", false, false), kana);
}

TEST_F(PageTreeTest, FindBaseUrlAndClear) {
    PageNode* top = base("http://h/");
    link(top, "http://h/a.html");
    PageNode* other = base("http://h/b/");
    EXPECT_EQ(tree.find_base_url("http://h/b/"), other);
    EXPECT_EQ(tree.find_base_url("http://h/a.html"), nullptr);  // base nodes only
    EXPECT_EQ(tree.find_base_url("http://h"), nullptr);
    tree.clear();
    EXPECT_EQ(tree.first_base(), nullptr);
    EXPECT_EQ(tree.node_count(), 0u);
    EXPECT_EQ(view.live_items, 0);
}

TEST(AutoGetJob, DefaultRestriction) {
    EXPECT_EQ(default_restriction("http://h/a/b.html?x=/y#z/w"), "http://h/a/");
    EXPECT_EQ(default_restriction("http://h/a/#/frag"), "http://h/a/");
    EXPECT_EQ(default_restriction("http://h/"), "http://h/");
    EXPECT_EQ(default_restriction("mailto:someone"), std::nullopt);
}

TEST(AutoGetJob, EntryListsAsText) {
    EXPECT_EQ(entry_list_from_text("gif\r\n\r\njpg\nzip\r\n"), (LineList{"gif", "jpg", "zip"}));
    EXPECT_TRUE(entry_list_from_text("").empty());
    EXPECT_EQ(entry_list_text(LineList{"gif", "jpg"}), "gif\r\njpg\r\n");
    EXPECT_EQ(entry_list_text(std::nullopt), "");
}

TEST_F(PageTreeTest, ReservationFromTheDefaults) {
    AutoGetSettings defaults;
    defaults.recStatusModify = 2;
    defaults.recStatusLimit = 1;
    defaults.recStatusLink = 4;
    defaults.recStatusRetry = 7;
    defaults.recStatusRetryTimer = 30000;
    defaults.recStatusRequisites = 1;
    const ParsedUrl url = url_of("http://h/dir/page.html?q=1/2");
    const std::optional<ParsedUrl> referer = url_of("http://r/");
    int asked = 0;
    auto answer = [&](bool yes) {
        return [&asked, yes] {
            ++asked;
            return yes;
        };
    };

    EXPECT_EQ(reserve_base_url(tree, defaults, "C:\\save", "POST", "http://h/dir/page.html?q=1/2", url, referer,
                               "UA", answer(true)),
              ReserveOutcome::not_get);
    EXPECT_EQ(reserve_base_url(tree, defaults, "C:\\save", "get", "http://h/dir/page.html?q=1/2", url, referer,
                               "UA", answer(true)),
              ReserveOutcome::not_get);
    ASSERT_EQ(reserve_base_url(tree, defaults, "C:\\save", "GET", "http://h/dir/page.html?q=1/2", url, referer,
                               "UA", answer(true)),
              ReserveOutcome::added);
    EXPECT_EQ(asked, 0);
    const AutoGetJob& job = *tree.first_base()->job();
    EXPECT_EQ(job.baseUrl, "http://h/dir/page.html?q=1/2");
    EXPECT_EQ(job.saveFolder, "C:\\save");
    EXPECT_EQ(job.updateCheck, 2);
    EXPECT_EQ(job.restrictAll, 1);
    EXPECT_EQ(job.maxDepth, 4);
    EXPECT_EQ(job.retryCount, 7);
    EXPECT_EQ(job.retryInterval, 30000);
    EXPECT_EQ(job.pageRequisites, 1);
    EXPECT_EQ(job.restrictions, LineList{"http://h/dir/"});
    EXPECT_FALSE(job.skipExtensions);
    EXPECT_EQ(job.referer, referer);
    EXPECT_EQ(job.userAgent, "UA");
    EXPECT_EQ(tree.first_base()->skipReason(), 0);

    EXPECT_EQ(reserve_base_url(tree, defaults, "C:\\save", "GET", "http://h/dir/page.html?q=1/2", url, std::nullopt,
                               std::nullopt, answer(false)),
              ReserveOutcome::declined);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(reserve_base_url(tree, defaults, "C:\\save", "GET", "http://h/dir/page.html?q=1/2", url, std::nullopt,
                               std::nullopt, answer(true)),
              ReserveOutcome::added);
    EXPECT_EQ(asked, 2);
    view.fail_inserts = true;
    const ParsedUrl other = url_of("http://o/");
    EXPECT_EQ(reserve_base_url(tree, defaults, "C:\\save", "GET", "http://o/", other, std::nullopt, std::nullopt,
                               answer(true)),
              ReserveOutcome::refused);
    EXPECT_EQ(tree.node_count(), 2u);
}


// ---------------------------------------------------------------------------
// The tree against a literal model of its rules: no indexes, the duplicate
// rule as a walk of the whole base subtree, the sibling check as a walk of
// the siblings. Random operations on both; after each, both trees and the
// view must agree node for node.

struct RefNode {
    std::string url;
    int isLink = 0, skipReason = 0, depth = 0, activity = 0, result = 0, error = 0;
    RefNode* parent = nullptr;
    std::vector<std::unique_ptr<RefNode>> children;
    std::shared_ptr<AutoGetJob> job;
};

std::string ref_label(const RefNode& node) {
    return node.isLink ? "(" + std::to_string(node.depth) + ") " + node.url : node.url;
}

class LiteralTree {
public:
    RefNode root;

    RefNode* add(bool isLink, RefNode* parent, const std::string& url, std::shared_ptr<AutoGetJob> job) {
        if (parent) {
            for (auto& sibling : parent->children) {
                if (sibling->error == 0 && sibling->url == url) return nullptr;
            }
        }
        auto node = std::make_unique<RefNode>();
        node->url = url;
        node->isLink = isLink;
        node->depth = parent ? parent->depth + node->isLink : 0;
        node->job = parent ? parent->job : job;
        node->parent = parent ? parent : &root;
        RefNode* added = node.get();
        node->parent->children.push_back(std::move(node));
        admit(*added);
        return added;
    }

    bool admit(RefNode& node) {
        const AutoGetJob& job = *node.job;
        int reason = 0;
        const std::optional<std::string_view> extension = url_extension(node.url);
        if (node.depth > job.maxDepth) {
            reason = 1;
        } else if (job.skipExtensions && !job.skipExtensions->empty() && extension &&
                   list_holds_extension(*job.skipExtensions, *extension, true)) {
            reason = 2;
        } else if (job.skipExtensions && !job.skipExtensions->empty() && extension && node.isLink &&
                   equal_ignoring_case(*extension, "map")) {
            reason = 3;
        } else if (job.restrictAll == 1 || node.isLink == 1) {
            bool found = false;
            for (const std::string& entry : job.restrictions.value_or(LineList{})) {
                found = found || (!entry.empty() && contains_at_char_position(node.url, entry, true));
            }
            if (!found) reason = 2;
        }
        if (reason == 0) {
            RefNode* base = &node;
            while (base->parent != &root) base = base->parent;
            bool before = true;
            std::optional<int> remembered;
            std::vector<RefNode*> walk = preorder(base);
            for (RefNode* other : walk) {
                if (other == &node) {
                    before = false;
                    continue;
                }
                if (other->url != node.url) continue;
                if (other->result != 0) remembered = other->result;
                if (other->skipReason == 100 || (before && other->depth <= node.depth) ||
                    (!before && other->depth < node.depth)) {
                    reason = 4;
                    break;
                }
            }
            if (reason == 0) {
                if (!remembered) return false;
                node.result = *remembered;
                return true;
            }
        }
        node.skipReason = reason;
        return true;
    }

    RefNode* next(RefNode* current, bool linkOnly, const LineList& extensions, std::vector<std::string>& collapsed) {
        auto step = [&](RefNode* node) -> RefNode* {
            if (!node->skipReason && !node->children.empty()) return node->children.front().get();
            for (RefNode* at = node; at != &root; at = at->parent) {
                if (at != node) collapsed.push_back(ref_label(*at));
                auto& siblings = at->parent->children;
                for (std::size_t i = 0; i + 1 < siblings.size(); ++i) {
                    if (siblings[i].get() == at) return siblings[i + 1].get();
                }
            }
            return nullptr;
        };
        RefNode* node = current ? step(current) : (root.children.empty() ? nullptr : root.children.front().get());
        for (; node; node = step(node)) {
            if (node->skipReason || node->error) continue;
            if (node->result == 0) {
                admit(*node);
                if (node->skipReason) continue;
            }
            if (node->result != 0) {
                if (node->result == 2 && node->children.empty()) return node;
                continue;
            }
            if (!linkOnly || node->url.back() == '/') return node;
            const std::optional<std::string_view> extension = url_extension(node->url);
            if (extension && list_holds_extension(extensions, *extension, false)) return node;
        }
        return nullptr;
    }

    bool busy(RefNode* node, RefNode* fetching) {
        for (RefNode* at : preorder(node)) {
            if (at == fetching || at->activity != 0) return true;
        }
        return false;
    }
    bool remove(RefNode* node, RefNode* fetching) {
        if (busy(node, fetching)) return false;
        auto& siblings = node->parent->children;
        for (auto it = siblings.begin(); it != siblings.end(); ++it) {
            if (it->get() == node) {
                siblings.erase(it);
                break;
            }
        }
        return true;
    }
    bool reset(RefNode* node, RefNode* fetching) {
        if (busy(node, fetching)) return false;
        node->children.clear();
        node->error = node->result = 0;
        return true;
    }
    void record(RefNode* node, int value) {
        node->activity = 0;
        (value < 0 ? node->error : node->result) = value < 0 ? -value : value;
    }

    static std::vector<RefNode*> preorder(RefNode* from) {
        std::vector<RefNode*> out;
        std::function<void(RefNode*)> visit = [&](RefNode* node) {
            out.push_back(node);
            for (auto& child : node->children) visit(child.get());
        };
        visit(from);
        return out;
    }
};

class PageTreeDifferential {
public:
    explicit PageTreeDifferential(unsigned seed) : random_(seed) {}

    void run(int operations) {
        for (int i = 0; i < operations && !::testing::Test::HasFailure(); ++i) {
            step();
            compare();
        }
    }

private:
    static constexpr const char* kUrls[] = {
        "http://h/",       "http://h/a.html", "http://h/b.html", "http://h/c/",     "http://h/d.gif",
        "http://h/e.map",  "http://h/f.HTM",  "http://h/a.html?x", "http://o/x.html", "http://h/c/g.zip",
        "http://h/c/a.html"};

    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }
    bool chance(int percent) { return pick(100) < percent; }
    std::string any_url() { return kUrls[pick(static_cast<int>(std::size(kUrls)))]; }

    AutoGetJob random_job() {
        AutoGetJob job;
        job.maxDepth = pick(5);
        job.restrictAll = pick(2);
        switch (pick(10)) {
        case 0: break;  // none
        case 1: job.restrictions = LineList{}; break;
        case 2: job.restrictions = LineList{"", "/c/"}; break;
        default: job.restrictions = LineList{"http://h/"}; break;
        }
        switch (pick(4)) {
        case 0: job.skipExtensions = LineList{"zip"}; break;
        case 1: job.skipExtensions = LineList{"GIF", ""}; break;
        default: break;
        }
        return job;
    }

    // Index of a live node, or -1 for none when `allow_none`.
    int any_index(bool allow_none) {
        if (nodes_.empty() || (allow_none && chance(15))) return -1;
        return pick(static_cast<int>(nodes_.size()));
    }
    PageNode* node_at(int index) { return index < 0 ? nullptr : nodes_[static_cast<std::size_t>(index)]; }
    RefNode* ref_at(int index) { return index < 0 ? nullptr : refs_[static_cast<std::size_t>(index)]; }
    int index_of(const PageNode* node) {
        for (std::size_t i = 0; i < nodes_.size(); ++i) {
            if (nodes_[i] == node) return static_cast<int>(i);
        }
        return -1;
    }
    int index_of(const RefNode* node) {
        for (std::size_t i = 0; i < refs_.size(); ++i) {
            if (refs_[i] == node) return static_cast<int>(i);
        }
        return -1;
    }

    void step() {
        const int kind = pick(100);
        if (kind < 30 || nodes_.empty()) {
            const std::string url = any_url();
            const ParsedUrl parsed = url_of(url);
            const int parent = (nodes_.empty() || chance(8)) ? -1 : any_index(false);
            const bool isLink = chance(60);
            if (parent < 0) {
                auto job = std::make_shared<AutoGetJob>(random_job());
                PageNode* added = tree_.add_child(false, nullptr, &parsed, std::make_unique<AutoGetJob>(*job));
                RefNode* expected = literal_.add(false, nullptr, url, job);
                ASSERT_EQ(added != nullptr, expected != nullptr);
            } else {
                PageNode* added = tree_.add_child(isLink, node_at(parent), &parsed, nullptr);
                RefNode* expected = literal_.add(isLink, ref_at(parent), url, nullptr);
                ASSERT_EQ(added != nullptr, expected != nullptr) << url;
            }
        } else if (kind < 50) {
            const int current = any_index(true);
            const bool linkOnly = chance(30);
            const LineList extensions{"html", "htm"};
            view_.log.clear();
            PageNode* next = tree_.next_node(node_at(current), linkOnly, extensions);
            std::vector<std::string> collapsed;
            RefNode* expected = literal_.next(ref_at(current), linkOnly, extensions, collapsed);
            ASSERT_EQ(index_of(next), index_of(expected));
            std::vector<std::string> logged;
            for (const std::string& line : view_.log) logged.push_back(line.substr(std::string("collapse ").size()));
            ASSERT_EQ(logged, collapsed);
        } else if (kind < 66) {
            static constexpr int kResults[] = {1, 2, 2, 2, 3, 5, 100, 301, 404, 0, -3, -100, -401};
            const int index = any_index(false);
            const int value = kResults[pick(static_cast<int>(std::size(kResults)))];
            tree_.record_fetch_result(*node_at(index), value);
            literal_.record(ref_at(index), value);
        } else if (kind < 71) {
            const int index = any_index(false);
            const int activity = chance(70) ? 0 : 1 + pick(2);
            tree_.set_activity(*node_at(index), activity);
            ref_at(index)->activity = activity;
        } else if (kind < 79) {
            const int index = any_index(false);
            tree_.toggle_skip(*node_at(index));
            RefNode* ref = ref_at(index);
            ref->skipReason = ref->skipReason ? 0 : 100;
        } else if (kind < 85) {
            const int index = any_index(false);
            const int fetching = chance(50) ? -1 : any_index(false);
            const bool done = tree_.delete_subtree(*node_at(index), node_at(fetching)) == TreeEdit::done;
            ASSERT_EQ(done, literal_.remove(ref_at(index), ref_at(fetching)));
        } else if (kind < 93) {
            const int index = any_index(false);
            const int fetching = chance(50) ? -1 : any_index(false);
            const bool done = tree_.reset_to_waiting(*node_at(index), node_at(fetching)) == TreeEdit::done;
            ASSERT_EQ(done, literal_.reset(ref_at(index), ref_at(fetching)));
        } else {
            const int index = any_index(false);
            const bool changed = tree_.admit_node(*node_at(index));
            tree_.update_icon(*node_at(index));
            ASSERT_EQ(changed, literal_.admit(*ref_at(index)));
        }
    }

    // Walks both trees in pre-order side by side, checks every field, the
    // item's label and image, and the links between nodes; then notes the
    // pairs for the next operation.
    void compare() {
        nodes_.clear();
        refs_.clear();
        std::vector<RefNode*> expected = LiteralTree::preorder(&literal_.root);
        expected.erase(expected.begin());
        std::vector<PageNode*> actual;
        for (PageNode* node = tree_.first_base(); node;) {
            actual.push_back(node);
            if (node->firstChild()) {
                node = node->firstChild();
                continue;
            }
            while (node && !node->nextSibling()) node = node->parent() == &tree_.root() ? nullptr : node->parent();
            if (node) node = node->nextSibling();
        }
        ASSERT_EQ(actual.size(), expected.size());
        ASSERT_EQ(tree_.node_count(), expected.size());
        ASSERT_EQ(view_.live_items, static_cast<int>(expected.size()));
        for (std::size_t i = 0; i < actual.size(); ++i) {
            const PageNode& a = *actual[i];
            const RefNode& e = *expected[i];
            SCOPED_TRACE("node " + std::to_string(i) + " " + e.url);
            ASSERT_EQ(a.url(), e.url);
            ASSERT_EQ(a.isLink(), e.isLink);
            ASSERT_EQ(a.depth(), e.depth);
            ASSERT_EQ(a.skipReason(), e.skipReason);
            ASSERT_EQ(a.result(), e.result);
            ASSERT_EQ(a.error(), e.error);
            ASSERT_EQ(a.activity(), e.activity);
            ASSERT_EQ(a.firstChild() == nullptr, e.children.empty());
            const int parent_index = e.parent == &literal_.root ? -1 : index_of(e.parent);
            ASSERT_EQ(a.parent() == &tree_.root() ? -1 : index_of(a.parent()), parent_index);
            ASSERT_EQ(FakePageTreeView::of(a.item()).label, ref_label(e));
            ASSERT_EQ(FakePageTreeView::of(a.item()).state, page_state_image(a));
            ASSERT_EQ(FakePageTreeView::of(a.item()).node, &a);
            nodes_.push_back(actual[i]);
            refs_.push_back(expected[i]);
        }
    }

    std::mt19937 random_;
    FakePageTreeView view_;
    PageTree tree_{view_};
    LiteralTree literal_;
    std::vector<PageNode*> nodes_;
    std::vector<RefNode*> refs_;
};

TEST(PageTreeDifferential, IndexedRulesMatchTheLiteralWalk) {
    for (unsigned seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        PageTreeDifferential(seed).run(500);
        if (::testing::Test::HasFailure()) break;
    }
}

}  // namespace
}  // namespace vellum
