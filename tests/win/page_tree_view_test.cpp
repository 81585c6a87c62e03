// The page tree's view over a real tree-view control: a batch of items shown
// together, and a run's changes shown at the next thaw, end exactly where
// showing them one by one does.
#include "autoget/page_tree_view_win.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vellum {
namespace {

// Two identical tree views side by side in one visible frame.
class PageTreeViewBatchTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TREEVIEW_CLASSES};
        InitCommonControlsEx(&controls);
    }
    void SetUp() override {
        frame = CreateWindowExA(0, "STATIC", "", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 640, 300, nullptr,
                                nullptr, nullptr, nullptr);
        ASSERT_TRUE(frame);
        for (int i = 0; i < 2; ++i) {
            trees[i] = CreateWindowExA(WS_EX_CLIENTEDGE, WC_TREEVIEWA, "",
                                       WS_CHILD | WS_VISIBLE | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT |
                                           TVS_SHOWSELALWAYS | WS_VSCROLL | WS_HSCROLL,
                                       i * 310, 0, 300, 250, frame, nullptr, nullptr, nullptr);
            ASSERT_TRUE(trees[i]);
        }
    }
    void TearDown() override { DestroyWindow(frame); }

    // A root item with `count` children in both trees, every item shown as
    // it comes; returns the root's n-th child handles per tree.
    void add_pages(int count) {
        for (int t = 0; t < 2; ++t) {
            Win32PageTreeView view(trees[t]);
            roots[t] = static_cast<HTREEITEM>(view.insert_last(nullptr, "http://a.test/", nullptr));
            for (int i = 0; i < count; ++i) {
                auto item = view.insert_last(roots[t], "(1) http://a.test/" + std::to_string(i), nullptr);
                view.ensure_visible(item);
                pages[t].push_back(static_cast<HTREEITEM>(item));
            }
        }
    }

    // `count` links under page `page`: one by one in the first tree, as a
    // batch in the second.
    void add_links(int page, int count) {
        for (int t = 0; t < 2; ++t) {
            Win32PageTreeView view(trees[t]);
            if (t == 1) view.begin_batch();
            for (int i = 0; i < count; ++i) {
                auto item = view.insert_last(pages[t][page], "(2) http://a.test/" + std::to_string(page) + "/" +
                                                                 std::to_string(i), nullptr);
                view.set_state_image(item, 5);
                view.ensure_visible(item);
            }
            if (t == 1) view.end_batch();
        }
    }

    static std::string label(HWND tree, HTREEITEM item) {
        char text[260] = {};
        TVITEMA query{};
        query.mask = TVIF_TEXT;
        query.hItem = item;
        query.pszText = text;
        query.cchTextMax = sizeof text;
        return item && TreeView_GetItem(tree, &query) ? text : "<none>";
    }
    // What the user sees: the first visible item, the visible count, and the
    // expanded state of every page.
    std::string view_state(int t) const {
        std::string state = label(trees[t], TreeView_GetFirstVisible(trees[t])) + " | " +
                            std::to_string(TreeView_GetVisibleCount(trees[t])) + " |";
        for (HTREEITEM page : pages[t]) {
            state += (TreeView_GetItemState(trees[t], page, TVIS_EXPANDED) & TVIS_EXPANDED) ? " +" : " -";
        }
        return state;
    }
    void scroll_to(HTREEITEM first_in_each[2]) {
        for (int t = 0; t < 2; ++t) TreeView_SelectSetFirstVisible(trees[t], first_in_each[t]);
    }

    HWND frame = nullptr;
    HWND trees[2] = {};
    HTREEITEM roots[2] = {};
    std::vector<HTREEITEM> pages[2];
};

TEST_F(PageTreeViewBatchTest, ABatchEndsWhereShowingEachItemEnds) {
    add_pages(40);
    ASSERT_EQ(view_state(0), view_state(1));

    // Many links under a page below the view: the view ends on the last.
    add_links(35, 120);
    EXPECT_EQ(view_state(0), view_state(1));

    // A few links under a page above the view (the user scrolled down): the
    // view comes up to the first and stays there.
    HTREEITEM lower[2] = {pages[0][39], pages[1][39]};
    scroll_to(lower);
    add_links(3, 4);
    EXPECT_EQ(view_state(0), view_state(1));

    // Many links under a page above the view: up to the first, then down to
    // the last.
    scroll_to(lower);
    add_links(10, 60);
    EXPECT_EQ(view_state(0), view_state(1));

    // Links under a page in view, and a batch with nothing in it.
    HTREEITEM upper[2] = {pages[0][20], pages[1][20]};
    scroll_to(upper);
    add_links(22, 2);
    add_links(22, 0);
    EXPECT_EQ(view_state(0), view_state(1));
    EXPECT_EQ(TreeView_GetCount(trees[0]), TreeView_GetCount(trees[1]));
}


// A run freezes the tree and shows its changes at the next thaw: pages
// fetched in turn, their links added, branches climbed out of collapsed.
TEST_F(PageTreeViewBatchTest, AThawEndsWhereShowingEachChangeEnds) {
    add_pages(40);
    Win32PageTreeView each(trees[0]);
    Win32PageTreeView frozen(trees[1]);
    Win32PageTreeView* views[2] = {&each, &frozen};
    frozen.freeze();
    ASSERT_TRUE(frozen.frozen());
    auto fetch = [&](int page, int links, int image) {
        for (int t = 0; t < 2; ++t) {
            Win32PageTreeView& view = *views[t];
            view.set_state_image(pages[t][page], 6);
            view.ensure_visible(pages[t][page]);
            view.begin_batch();
            for (int i = 0; i < links; ++i) {
                auto item = view.insert_last(pages[t][page], "(2) http://a.test/" + std::to_string(page) + "/" +
                                                                 std::to_string(i), nullptr);
                view.set_state_image(item, image);
                view.ensure_visible(item);
            }
            view.end_batch();
            view.set_state_image(pages[t][page], 1);
        }
    };
    auto climb_out_of = [&](int page) {
        for (int t = 0; t < 2; ++t) views[t]->collapse(pages[t][page]);
    };

    fetch(2, 30, 4);     // a page above the view, its links running past it
    climb_out_of(2);     // its links were shown while frozen; none may reopen it
    fetch(3, 0, 4);
    fetch(35, 120, 5);   // a page below the view with many links
    climb_out_of(35);
    fetch(36, 3, 5);
    frozen.thaw();
    EXPECT_FALSE(frozen.frozen());
    EXPECT_EQ(view_state(0), view_state(1));

    // The next freeze starts from what the thaw showed.
    frozen.freeze();
    fetch(37, 50, 9);
    frozen.thaw();
    EXPECT_EQ(view_state(0), view_state(1));
    EXPECT_EQ(TreeView_GetCount(trees[0]), TreeView_GetCount(trees[1]));
    for (int page : {2, 35, 36, 37}) {
        for (HTREEITEM a = TreeView_GetChild(trees[0], pages[0][page]), b = TreeView_GetChild(trees[1], pages[1][page]);
             a || b; a = TreeView_GetNextSibling(trees[0], a), b = TreeView_GetNextSibling(trees[1], b)) {
            ASSERT_TRUE(a && b);
            EXPECT_EQ(label(trees[0], a), label(trees[1], b));
            EXPECT_EQ(TreeView_GetItemState(trees[0], a, TVIS_STATEIMAGEMASK),
                      TreeView_GetItemState(trees[1], b, TVIS_STATEIMAGEMASK));
        }
    }
}

// An item deleted while frozen is forgotten, not shown at the thaw.
TEST_F(PageTreeViewBatchTest, AnItemDeletedWhileFrozenIsNotShown) {
    add_pages(40);
    Win32PageTreeView view(trees[1]);
    HTREEITEM first[2] = {pages[0][0], pages[1][0]};
    scroll_to(first);
    view.freeze();
    auto item = view.insert_last(pages[1][30], "(2) http://a.test/30/0", nullptr);
    view.ensure_visible(item);
    view.delete_item(item);
    view.thaw();
    EXPECT_EQ(label(trees[1], TreeView_GetFirstVisible(trees[1])), "(1) http://a.test/0");
    EXPECT_FALSE(TreeView_GetItemState(trees[1], pages[1][30], TVIS_EXPANDED) & TVIS_EXPANDED);
}

}  // namespace
}  // namespace vellum
