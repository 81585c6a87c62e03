// The page tree's view over the auto-get window's tree-view control (id
// 115): every item carries its PageNode as item data, and the node's state
// shows as the item's state image from the 16-image strip (bitmap 182).
// UI thread.
//
// The control holds an item only for a node a user can reach: a base node,
// or a node whose parent's children have been shown, which happens when the
// parent's branch opens (the walk, a key, a click, a search, showing a node).
// Collapsing a branch for the walk empties it again (TVE_COLLAPSERESET); a
// branch the user closes keeps its items until then. A node without an item
// still counts for its parent's expand button (cChildren), keeps its state
// image in its view slot, and remembers whether its own branch stood open, so
// that opening an ancestor again shows exactly what the control would have
// shown had it kept every item. Under Wine every call that names an item
// looks it up in a list of all the control's items, so a crawl of a large
// site with an item per node spent most of its time there.
//
// The page tree's Item handles are the nodes themselves; the control's own
// items are reached through shown_item and make_item.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "autoget/page_tree.h"
#include "base/tree_read_watch_win.h"

namespace vellum {

class Win32PageTreeView : public PageTreeView {
public:
    explicit Win32PageTreeView(HWND tree_view);
    Win32PageTreeView(const Win32PageTreeView&) = delete;
    Win32PageTreeView& operator=(const Win32PageTreeView&) = delete;

    Item insert_last(Item parent, const std::string& label, PageNode* node) override;
    void delete_item(Item item) override;
    void set_state_image(Item item, int image) override;
    void ensure_visible(Item item) override;
    void collapse(Item item) override;
    void select(Item item) override;

    // The node an item carries, or nullptr.
    PageNode* node_of(HTREEITEM item) const;
    // The node's item, or nullptr while a closed branch above it holds none.
    static HTREEITEM shown_item(const PageNode& node);
    // The node's item, made (with those of its ancestors' other children)
    // when it has none; no branch opens and nothing scrolls.
    HTREEITEM make_item(PageNode& node);

    // TVN_ITEMEXPANDING from the control: a branch about to open gets its
    // children's items first. Returns FALSE, letting it open.
    LRESULT on_item_expanding(const NMTREEVIEWA& change);

    // A page's links arrive together, hundreds at a time. Between these two
    // calls the control neither repaints nor scrolls per item; at the end it
    // scrolls once to where scrolling item by item would have left it and
    // repaints once. Under Wine each item's own scroll and repaint costs
    // milliseconds, which made a large page take many seconds.
    void begin_batch();
    void end_batch();

    // A run changes the tree many times a second. Between freeze() and thaw()
    // the control keeps every item added or deleted but neither repaints nor
    // scrolls; the branches the walk closes and an item's state image and
    // button wait (under Wine each such change of the control cost the UI
    // thread a millisecond or more), put on in their order at the thaw or
    // before anyone else reads an item; the nodes to show are remembered in order (one batch counting as its first
    // and last node) and thaw() shows them, skipping any whose branch was
    // collapsed since, then repaints once. Under Wine every repaint and every
    // scroll-bar update of a large tree costs tens of milliseconds, so the
    // window thaws at the screen's pace instead of once per message.
    void freeze();
    void thaw();
    bool frozen() const { return frozen_; }

private:
    HWND tree_view_;
    TreeReadWatch read_watch_;
    std::vector<PageNode*> pending_;  // nodes whose item has changes waiting
    std::vector<PageNode*> to_collapse_;  // branches the walk closed while frozen, in order
    bool batching_ = false;
    PageNode* first_to_show_ = nullptr;
    PageNode* last_to_show_ = nullptr;
    bool frozen_ = false;
    // The nodes shown while frozen, oldest first; only the newest are kept.
    std::vector<const PageNode*> to_show_;

    HTREEITEM insert_item(HTREEITEM parent, PageNode& node, bool expanded);
    void set_has_children(PageNode& node, bool has_children);
    void put_image(HTREEITEM item, int image);
    void put_has_children(HTREEITEM item, bool has_children);
    void hold_back(PageNode& node);
    void put_pending();
    void close_branch(PageNode& node);
    void show_children(PageNode& parent);
    void remember_open_branches(const PageNode& parent);
    static void forget_items_below(PageNode& parent);

    void redraw_off();
    void show_now(PageNode& node);
    void show_later(const PageNode& node);
    void forget_below(const PageNode& node, bool including_node);
};

// The tree as a user could unfold it: every node in pre-order with its level
// below the top (0 for a base node), the state image it shows and its label.
// Tools and tests read this where they once walked every item of the control.
struct PageOutlineLine {
    int depth = 0;
    int image = 0;
    std::string label;
};
std::vector<PageOutlineLine> page_tree_outline(const PageTree& tree);
// The node at `index` in the outline's order, or nullptr.
PageNode* page_tree_node_at(const PageTree& tree, std::size_t index);

}  // namespace vellum
