// The request tree's view over a real tree-view control: requests shown at
// the next thaw end with the selection and scroll position that showing each
// request as it comes gives.
#include "shell/request_tree_view_win.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>

namespace vellum {
namespace {

class RequestTreeViewFreezeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TREEVIEW_CLASSES};
        InitCommonControlsEx(&controls);
    }
    void SetUp() override {
        frame = CreateWindowExA(0, "STATIC", "", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 640, 300, nullptr,
                                nullptr, nullptr, nullptr);
        ASSERT_TRUE(frame);
        for (int t = 0; t < 2; ++t) {
            trees[t] = CreateWindowExA(WS_EX_CLIENTEDGE, WC_TREEVIEWA, "",
                                       WS_CHILD | WS_VISIBLE | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT |
                                           TVS_SHOWSELALWAYS | WS_VSCROLL | WS_HSCROLL,
                                       t * 310, 0, 300, 250, frame, nullptr, nullptr, nullptr);
            ASSERT_TRUE(trees[t]);
            views[t] = std::make_unique<Win32RequestTreeView>(trees[t]);
        }
    }
    void TearDown() override { DestroyWindow(frame); }

    // A request under `parent` (nullptr: the top level) in both trees, shown
    // as the request tree shows a new request; returns its index.
    int add(int parent, const std::string& label) {
        for (int t = 0; t < 2; ++t) {
            RequestNode& node = nodes[t].emplace_back();
            node.item = views[t]->insert_last(parent < 0 ? views[t]->root_item() : nodes[t][parent].item, label,
                                              &node, 0);
            views[t]->set_state_image(node.item, 5);
            views[t]->select_item(node.item);
        }
        return static_cast<int>(nodes[0].size()) - 1;
    }
    void finish(int index) {
        for (int t = 0; t < 2; ++t) views[t]->set_state_image(nodes[t][index].item, 2);
    }
    void remove(int index) {
        for (int t = 0; t < 2; ++t) {
            views[t]->delete_item(nodes[t][index].item);
            nodes[t][index].item = nullptr;
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
    // What the user sees: the selection, the first visible item, the count
    // and every item's state image in display order.
    std::string view_state(int t) const {
        std::string images;
        for (HTREEITEM item = TreeView_GetRoot(trees[t]); item; item = next_in_order(trees[t], item)) {
            images += std::to_string((TreeView_GetItemState(trees[t], item, TVIS_STATEIMAGEMASK) >> 12) & 0xF);
        }
        return label(trees[t], TreeView_GetSelection(trees[t])) + " | " +
               label(trees[t], TreeView_GetFirstVisible(trees[t])) + " | " +
               std::to_string(TreeView_GetCount(trees[t])) + " | " + images;
    }
    static HTREEITEM next_in_order(HWND tree, HTREEITEM item) {
        if (HTREEITEM child = TreeView_GetChild(tree, item)) return child;
        for (; item; item = TreeView_GetParent(tree, item)) {
            if (HTREEITEM sibling = TreeView_GetNextSibling(tree, item)) return sibling;
        }
        return nullptr;
    }

    HWND frame = nullptr;
    HWND trees[2] = {};
    std::unique_ptr<Win32RequestTreeView> views[2];
    std::deque<RequestNode> nodes[2];  // stable addresses, as the request tree's own
};

TEST_F(RequestTreeViewFreezeTest, AThawEndsWhereShowingEachRequestEnds) {
    for (int i = 0; i < 10; ++i) add(-1, "http://a.test/" + std::to_string(i));
    ASSERT_EQ(view_state(0), view_state(1));

    views[1]->freeze();
    const int page = add(-1, "http://a.test/page");
    for (int i = 0; i < 30; ++i) {
        const int image = add(page, "/image" + std::to_string(i) + ".png");
        if (i % 3 == 0) finish(image);
    }
    finish(page);
    remove(1);
    remove(2);
    views[1]->thaw();
    EXPECT_FALSE(views[1]->frozen());
    EXPECT_EQ(view_state(0), view_state(1));

    // A request above the view (the user scrolled down) brings it back up.
    TreeView_SelectSetFirstVisible(trees[0], nodes[0][page].item);
    TreeView_SelectSetFirstVisible(trees[1], nodes[1][page].item);
    views[1]->freeze();
    add(3, "/late.css");
    views[1]->thaw();
    EXPECT_EQ(view_state(0), view_state(1));
}

TEST_F(RequestTreeViewFreezeTest, AFullTreeThawsAtItsEndWhileOldRequestsGoAtItsTop) {
    // Many connections at once: more requests than the view holds, the oldest
    // pruned at the top while new ones come at the bottom, tick after tick.
    std::deque<int> shown;
    for (int i = 0; i < 40; ++i) shown.push_back(add(-1, "http://a.test/" + std::to_string(i)));
    ASSERT_EQ(view_state(0), view_state(1));
    ASSERT_NE(label(trees[0], TreeView_GetFirstVisible(trees[0])), "http://a.test/0");  // scrolled
    int next = 40;
    for (int tick = 0; tick < 5; ++tick) {
        views[1]->freeze();
        for (int i = 0; i < 7; ++i) {
            finish(shown.back());
            remove(shown.front());
            shown.pop_front();
            shown.push_back(add(-1, "http://a.test/" + std::to_string(next++)));
        }
        views[1]->thaw();
        EXPECT_EQ(view_state(0), view_state(1)) << "tick " << tick;
    }
}

TEST_F(RequestTreeViewFreezeTest, AnyoneReadingAFrozenTreeReadsTheImagesSetSoFar) {
    const int page = add(-1, "http://a.test/page");
    const int image = add(page, "/a.png");
    views[1]->freeze();
    finish(image);
    const auto image_of = [&](int t, int index) {
        return (TreeView_GetItemState(trees[t], static_cast<HTREEITEM>(nodes[t][index].item), TVIS_STATEIMAGEMASK) >>
                12) & 0xF;
    };
    EXPECT_EQ(image_of(1, image), 2u);
    EXPECT_TRUE(views[1]->frozen());
    finish(page);
    TVITEMA query{};
    query.mask = TVIF_STATE;
    query.stateMask = TVIS_STATEIMAGEMASK;
    query.hItem = static_cast<HTREEITEM>(nodes[1][page].item);
    ASSERT_TRUE(TreeView_GetItem(trees[1], &query));
    EXPECT_EQ((query.state & TVIS_STATEIMAGEMASK) >> 12, 2u);
    views[1]->thaw();
    EXPECT_EQ(view_state(0), view_state(1));
}

TEST_F(RequestTreeViewFreezeTest, ASelectionMadeElsewhereWhileFrozenWins) {
    const int chosen = add(-1, "http://a.test/chosen");
    views[1]->freeze();
    add(-1, "http://a.test/next");
    // The user (or a tester) selects while the tree waits for its thaw; the
    // window passes the control's TVN_SELCHANGED on.
    TreeView_SelectItem(trees[1], static_cast<HTREEITEM>(nodes[1][chosen].item));
    views[1]->selection_changed();
    views[1]->thaw();
    EXPECT_EQ(label(trees[1], TreeView_GetSelection(trees[1])), "http://a.test/chosen");
}

TEST_F(RequestTreeViewFreezeTest, ARequestDeletedWhileFrozenIsNotSelected) {
    add(-1, "http://a.test/kept");
    views[1]->freeze();
    const int gone = add(-1, "http://a.test/gone");
    remove(gone);
    views[1]->thaw();
    EXPECT_EQ(label(trees[1], TreeView_GetSelection(trees[1])), "http://a.test/kept");
    EXPECT_EQ(TreeView_GetCount(trees[1]), 1u);
}

}  // namespace
}  // namespace vellum
