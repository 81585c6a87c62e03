// The page tree's view gives the control items only for the nodes a user can
// reach. Side by side with the view it replaced (an item for every node, kept
// when a branch closes), two page trees are driven through the same script:
// crawler-like fetches and their link batches, frozen stretches and thaws,
// searches, deletions, resets, skips, keys, clicks and scrolling. After every
// step a user must see the same in both: the visible rows with their labels,
// state images, buttons, open branches and rectangles, the selection and both
// scroll bars.
#include "autoget/page_tree_view_win.h"

#include <gtest/gtest.h>

#include <iterator>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "base/frame_controls_win.h"
#include "resources/resource.h"
#include "tests/support/item_per_node_tree_view_win.h"
#include "tests/support/ui_driver_win.h"

namespace vellum {
namespace {

using testing::ItemPerNodeTreeView;

constexpr char kFrameClass[] = "VellumTreeParityFrame";

// The frame hands the new view the control's expanding notifications, as
// the auto-get window does.
LRESULT CALLBACK frame_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NOTIFY) {
        auto* header = reinterpret_cast<NMHDR*>(lparam);
        auto* view = reinterpret_cast<Win32PageTreeView*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (view && (header->code == TVN_ITEMEXPANDINGA || header->code == TVN_ITEMEXPANDINGW)) {
            return view->on_item_expanding(*reinterpret_cast<NMTREEVIEWA*>(header));
        }
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

ParsedUrl url_of(const std::string& text) {
    return parse_url(text).value_or(ParsedUrl{});
}

std::unique_ptr<AutoGetJob> job_for(const std::string& restriction, int max_depth) {
    auto job = std::make_unique<AutoGetJob>();
    job->baseUrl = restriction;
    job->maxDepth = max_depth;
    job->restrictions = LineList{restriction};
    return job;
}

// One control with its view and page tree.
struct Side {
    HWND tree = nullptr;
    std::unique_ptr<PageTreeView> view;
    std::unique_ptr<PageTree> pages;
    PageNode* current = nullptr;  // the node being "fetched"

    ItemPerNodeTreeView* reference() { return dynamic_cast<ItemPerNodeTreeView*>(view.get()); }
    Win32PageTreeView* lazy() { return dynamic_cast<Win32PageTreeView*>(view.get()); }
    void freeze() { reference() ? reference()->freeze() : lazy()->freeze(); }
    void thaw() { reference() ? reference()->thaw() : lazy()->thaw(); }
    bool frozen() { return reference() ? reference()->frozen() : lazy()->frozen(); }
    void begin_batch() { reference() ? reference()->begin_batch() : lazy()->begin_batch(); }
    void end_batch() { reference() ? reference()->end_batch() : lazy()->end_batch(); }
};

std::string label_of(HWND tree, HTREEITEM item) {
    return item ? testing::UiDriver::label(tree, item) : "<none>";
}

int level_of(HWND tree, HTREEITEM item) {
    int level = 0;
    while ((item = TreeView_GetParent(tree, item)) != nullptr) ++level;
    return level;
}

std::string scroll_state(HWND tree, int bar) {
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    const bool shown = (GetWindowLongA(tree, GWL_STYLE) & (bar == SB_VERT ? WS_VSCROLL : WS_HSCROLL)) != 0;
    if (!shown || !GetScrollInfo(tree, bar, &info)) return shown ? "shown" : "none";
    std::ostringstream out;
    out << info.nMin << ".." << info.nMax << " page " << info.nPage << " at " << info.nPos;
    return out.str();
}

// Everything a user sees of one control.
std::string screen_of(HWND tree) {
    std::ostringstream out;
    out << "vert " << scroll_state(tree, SB_VERT) << " | horz " << scroll_state(tree, SB_HORZ) << "\n";
    const HTREEITEM selected = TreeView_GetSelection(tree);
    out << "selected " << (selected ? std::to_string(level_of(tree, selected)) + " " + label_of(tree, selected)
                                    : std::string("none"))
        << "\n";
    const int rows = static_cast<int>(TreeView_GetVisibleCount(tree)) + 1;
    HTREEITEM item = TreeView_GetFirstVisible(tree);
    for (int row = 0; item && row < rows; ++row, item = TreeView_GetNextVisible(tree, item)) {
        TVITEMA query{};
        query.mask = TVIF_STATE | TVIF_CHILDREN;
        query.hItem = item;
        query.stateMask = TVIS_STATEIMAGEMASK | TVIS_EXPANDED | TVIS_SELECTED;
        TreeView_GetItem(tree, &query);
        RECT text{};
        TreeView_GetItemRect(tree, item, &text, TRUE);
        out << level_of(tree, item) << " [" << ((query.state & TVIS_STATEIMAGEMASK) >> 12) << "] "
            << (query.cChildren ? ((query.state & TVIS_EXPANDED) ? "- " : "+ ") : "  ")
            << ((query.state & TVIS_SELECTED) ? "*" : "") << label_of(tree, item) << " @" << text.left << ","
            << text.top << "-" << text.right << "," << text.bottom << "\n";
    }
    return out.str();
}

class PageTreeViewParityTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TREEVIEW_CLASSES};
        InitCommonControlsEx(&controls);
        WNDCLASSA frame_class{};
        frame_class.lpfnWndProc = &frame_procedure;
        frame_class.hInstance = GetModuleHandleA(nullptr);
        frame_class.lpszClassName = kFrameClass;
        frame_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        RegisterClassA(&frame_class);
    }
    void SetUp() override {
        frame = CreateWindowExA(0, kFrameClass, "", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 900, 360, nullptr,
                                nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_TRUE(frame);
        images = ImageList_LoadBitmap(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDB_PAGE_STATES), 16, 1,
                                      RGB(128, 128, 128));
        for (int s = 0; s < 2; ++s) {
            Side& side = sides[s];
            side.tree = create_state_tree(frame, GetModuleHandleA(nullptr), 115 + s, nullptr, nullptr, images);
            ASSERT_TRUE(side.tree);
            MoveWindow(side.tree, s * 440, 0, 430, 300, TRUE);
            if (s == 0) {
                side.view = std::make_unique<ItemPerNodeTreeView>(side.tree);
            } else {
                side.view = std::make_unique<Win32PageTreeView>(side.tree);
                SetWindowLongPtrA(frame, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(side.view.get()));
            }
            side.pages = std::make_unique<PageTree>(*side.view);
        }
    }
    void TearDown() override {
        SetWindowLongPtrA(frame, GWLP_USERDATA, 0);
        for (Side& side : sides) {
            if (side.pages) side.pages->clear();
        }
        DestroyWindow(frame);
        if (images) ImageList_Destroy(images);
    }

    void pump() {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }

    // The node at `index` in pre-order on each side (the trees are equal).
    PageNode* node_at(int s, std::size_t index) { return page_tree_node_at(*sides[s].pages, index); }
    std::size_t node_count() { return sides[0].pages->node_count(); }

    void add_base(const std::string& url, int max_depth) {
        for (Side& side : sides) {
            const ParsedUrl parsed = url_of(url);
            side.pages->add_child(false, nullptr, &parsed, job_for(url, max_depth));
        }
    }

    // What the window does with a crawler's result: the result, then the
    // page's links as one batch.
    void fetched(int s, PageNode& node, int result, const std::vector<std::pair<std::string, bool>>& links) {
        Side& side = sides[s];
        side.pages->record_fetch_result(node, result);
        if (links.empty()) return;
        side.begin_batch();
        for (const auto& [url, is_link] : links) {
            const ParsedUrl parsed = url_of(url);
            side.pages->add_child(is_link, &node, &parsed, nullptr);
        }
        side.end_batch();
    }

    // One crawler cycle on both sides: the next node handed out and shown,
    // then its result with links drawn from a small pool of URLs (so that
    // duplicates and depth skips come up).
    bool crawl_step(std::mt19937& random) {
        std::vector<std::pair<std::string, bool>> links;
        const int result_kind = static_cast<int>(random() % 10);
        const int result = result_kind < 6 ? 2 : result_kind < 8 ? 3 : result_kind == 8 ? 404 : -5;
        {
            const int count = static_cast<int>(random() % 30);
            for (int i = 0; i < count; ++i) {
                links.emplace_back("http://h/p" + std::to_string(random() % 80) + ".html", random() % 4 != 0);
            }
        }
        bool any = false;
        for (int s = 0; s < 2; ++s) {
            Side& side = sides[s];
            PageNode* node = side.pages->next_node(side.current, false, LineList{});
            side.current = node;
            if (!node) continue;
            any = true;
            // A page fetched before is expanded again from its stored copy.
            const int got = node->result() == 2 || node->is_base() ? 2 : result;
            side.pages->set_activity(*node, 1);
            side.view->ensure_visible(node->item());
            fetched(s, *node, got, got == 2 ? links : decltype(links){});
        }
        return any;
    }

    void both_thawed() {
        for (Side& side : sides) side.thaw();
    }

    // Keys and mouse as a user would give them, at the same place in both.
    void key(WPARAM vk) {
        both_thawed();
        for (Side& side : sides) {
            SendMessageA(side.tree, WM_KEYDOWN, vk, 0);
            SendMessageA(side.tree, WM_KEYUP, vk, 0);
        }
        pump();
    }
    void click(int x, int y, bool twice) {
        both_thawed();
        const LPARAM at = MAKELPARAM(x, y);
        for (Side& side : sides) {
            PostMessageA(side.tree, WM_LBUTTONDOWN, MK_LBUTTON, at);
            PostMessageA(side.tree, WM_LBUTTONUP, 0, at);
            if (twice) {
                PostMessageA(side.tree, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
                PostMessageA(side.tree, WM_LBUTTONUP, 0, at);
            }
            pump();
        }
    }
    void scroll(UINT bar_message, WPARAM how) {
        both_thawed();
        for (Side& side : sides) SendMessageA(side.tree, bar_message, how, 0);
        pump();
    }

    // Equal screens and equal trees; while frozen nothing on screen counts
    // (the window shows a frozen tree's state only after its thaw).
    void expect_same(const std::string& step) {
        if (sides[0].frozen() != sides[1].frozen()) FAIL() << step << ": only one side frozen";
        const auto outline_of = [](const PageTree& pages) {
            std::string text;
            for (const PageOutlineLine& line : page_tree_outline(pages)) {
                text += std::to_string(line.depth) + " " + line.label + "\n";
            }
            return text;
        };
        ASSERT_EQ(outline_of(*sides[0].pages), outline_of(*sides[1].pages)) << step;
        if (sides[0].frozen()) return;
        ASSERT_EQ(screen_of(sides[0].tree), screen_of(sides[1].tree)) << step;
    }

    HWND frame = nullptr;
    HIMAGELIST images = nullptr;
    Side sides[2];
};

// A run as the window drives it: frozen between thaws, pages fetched in
// turn with their links in batches, branches climbed out of collapsed, and
// the user looking in between. Both controls show the same after each step,
// while the new one holds far fewer items.
TEST_F(PageTreeViewParityTest, ACrawlLooksTheSameWithItemsOnlyWhereReachable) {
    add_base("http://h/", 6);
    expect_same("base");
    std::mt19937 random(20261209);
    for (int step = 0; step < 400; ++step) {
        if (step % 5 == 0) {
            for (Side& side : sides) side.freeze();
        }
        const bool more = crawl_step(random);
        if (step % 5 == 4 || !more) both_thawed();
        expect_same("crawl step " + std::to_string(step));
        if (!more) break;
    }
    both_thawed();
    expect_same("end of run");
    EXPECT_GT(node_count(), 300u);
    EXPECT_EQ(TreeView_GetCount(sides[0].tree), node_count());
    EXPECT_LT(TreeView_GetCount(sides[1].tree) * 3, node_count());
}

// Everything a user or the window may do, in a fixed random order.
TEST_F(PageTreeViewParityTest, EveryOperationLooksTheSame) {
    add_base("http://h/", 5);
    add_base("http://g/", 3);
    std::mt19937 random(90210);
    for (int step = 0; step < 700; ++step) {
        const int what = static_cast<int>(random() % 20);
        std::string name;
        if (what < 6) {
            name = "crawl";
            if (!crawl_step(random)) {
                for (Side& side : sides) side.current = nullptr;
            }
        } else if (what == 6) {
            name = sides[0].frozen() ? "thaw" : "freeze";
            const bool thaw = sides[0].frozen();
            for (Side& side : sides) thaw ? side.thaw() : side.freeze();
        } else if (what == 7 || what == 8) {
            const std::size_t index = random() % node_count();
            const bool upward = random() % 2 != 0;
            const std::string text = "p" + std::to_string(random() % 9);
            name = "search " + text + " from " + std::to_string(index) + (upward ? " up" : " down");
            both_thawed();
            for (int s = 0; s < 2; ++s) sides[s].pages->search_tree(node_at(s, index), text, true, upward);
        } else if (what == 9) {
            const std::size_t index = random() % node_count();
            name = "delete " + std::to_string(index);
            for (int s = 0; s < 2; ++s) {
                PageNode* node = node_at(s, index);
                if (node->is_base() && sides[s].pages->first_base() == node && !node->nextSibling()) continue;
                sides[s].pages->delete_subtree(*node, sides[s].current);
            }
        } else if (what == 10) {
            const std::size_t index = random() % node_count();
            name = "reset " + std::to_string(index);
            for (int s = 0; s < 2; ++s) sides[s].pages->reset_to_waiting(*node_at(s, index), sides[s].current);
        } else if (what == 11) {
            const std::size_t index = random() % node_count();
            name = "skip " + std::to_string(index);
            for (int s = 0; s < 2; ++s) sides[s].pages->toggle_skip(*node_at(s, index));
        } else if (what < 16) {
            static const WPARAM keys[] = {VK_UP,   VK_DOWN, VK_LEFT, VK_RIGHT,    VK_HOME, VK_END,
                                          VK_PRIOR, VK_NEXT, VK_ADD, VK_SUBTRACT, VK_MULTIPLY, VK_BACK};
            const WPARAM vk = keys[random() % std::size(keys)];
            name = "key " + std::to_string(vk);
            key(vk);
        } else if (what < 19) {
            const int x = static_cast<int>(random() % 200);
            const int y = static_cast<int>(random() % 280);
            const bool twice = random() % 3 == 0;
            name = std::string(twice ? "double click " : "click ") + std::to_string(x) + "," + std::to_string(y);
            click(x, y, twice);
        } else {
            static const WPARAM moves[] = {SB_LINEDOWN, SB_LINEUP, SB_PAGEDOWN, SB_PAGEUP, SB_TOP, SB_BOTTOM};
            const WPARAM how = moves[random() % std::size(moves)];
            const bool across = random() % 3 == 0;
            name = std::string(across ? "scroll across " : "scroll ") + std::to_string(how);
            scroll(across ? WM_HSCROLL : WM_VSCROLL, how);
        }
        expect_same("step " + std::to_string(step) + ": " + name);
        if (HasFatalFailure()) return;
    }
    both_thawed();
    expect_same("end");
}

// A branch closed by the walk loses its items; opening it again shows its
// children, with the branches inside it that were open still open, the
// images they had, and the button of a node whose children have no items.
TEST_F(PageTreeViewParityTest, AClosedBranchOpensAsItWasLeft) {
    add_base("http://h/", 5);
    for (int s = 0; s < 2; ++s) {
        PageTree& pages = *sides[s].pages;
        PageNode* base = pages.first_base();
        fetched(s, *base, 2, {{"http://h/a.html", true}, {"http://h/b.html", true}, {"http://h/c.gif", false}});
        PageNode* a = base->firstChild();
        fetched(s, *a, 2, {{"http://h/a1.html", true}, {"http://h/a2.html", true}});
        sides[s].view->ensure_visible(a->firstChild()->item());
        pages.set_activity(*a->firstChild(), 1);
        pages.record_fetch_result(*a->firstChild(), 404);
        sides[s].view->collapse(base->item());  // the walk climbs out of the base
    }
    expect_same("closed");
    EXPECT_EQ(TreeView_GetCount(sides[1].tree), 1u);
    for (Side& side : sides) {
        TreeView_SelectItem(side.tree, TreeView_GetRoot(side.tree));
        SendMessageA(side.tree, WM_KEYDOWN, VK_RIGHT, 0);  // the user opens the base again
    }
    expect_same("opened by the user");
    EXPECT_NE(screen_of(sides[1].tree).find("- (1) http://h/a.html"), std::string::npos) << screen_of(sides[1].tree);
    for (int s = 0; s < 2; ++s) sides[s].pages->search_tree(sides[s].pages->first_base(), "a2", true, false);
    expect_same("searched into it");

    // A page whose links never got items, its branch never opened (reset
    // while frozen, before they were shown): it loses its button as the
    // control takes it from an emptied item.
    for (int s = 0; s < 2; ++s) {
        PageNode* b = sides[s].pages->first_base()->firstChild()->nextSibling();
        sides[s].freeze();
        fetched(s, *b, 2, {{"http://h/b1.html", true}});
        sides[s].pages->reset_to_waiting(*b, nullptr);
        sides[s].thaw();
    }
    expect_same("reset unopened");
    EXPECT_NE(screen_of(sides[1].tree).find("   (1) http://h/b.html"), std::string::npos) << screen_of(sides[1].tree);
}

}  // namespace
}  // namespace vellum
