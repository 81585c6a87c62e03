// The page tree's view over the auto-get window's tree-view control (id
// 115): every item carries its PageNode as item data, and the node's state
// shows as the item's state image from the 16-image strip (bitmap 182).
// UI thread.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <vector>

#include "autoget/page_tree.h"

namespace vellum {

class Win32PageTreeView : public PageTreeView {
public:
    explicit Win32PageTreeView(HWND tree_view) : tree_view_(tree_view) {}

    Item insert_last(Item parent, const std::string& label, PageNode* node) override;
    void delete_item(Item item) override;
    void set_state_image(Item item, int image) override;
    void ensure_visible(Item item) override;
    void collapse(Item item) override;
    void select(Item item) override;

    // The node an item carries, or nullptr.
    PageNode* node_of(HTREEITEM item) const;

    // A page's links arrive together, hundreds at a time. Between these two
    // calls the control neither repaints nor scrolls per item; at the end it
    // scrolls once to where scrolling item by item would have left it and
    // repaints once. Under Wine each item's own scroll and repaint costs
    // milliseconds, which made a large page take many seconds.
    void begin_batch();
    void end_batch();

    // A run changes the tree many times a second. Between freeze() and thaw()
    // the control keeps every change but neither repaints nor scrolls; the
    // items to show are remembered in order (one batch counting as its first
    // and last item) and thaw() shows them, skipping any whose branch was
    // collapsed since, then repaints once. Under Wine every repaint and every
    // scroll-bar update of a large tree costs tens of milliseconds, so the
    // window thaws at the screen's pace instead of once per message.
    void freeze();
    void thaw();
    bool frozen() const { return frozen_; }

private:
    HWND tree_view_;
    bool batching_ = false;
    HTREEITEM first_to_show_ = nullptr;
    HTREEITEM last_to_show_ = nullptr;
    bool frozen_ = false;
    // The items shown while frozen, oldest first; only the newest are kept.
    struct ToShow {
        HTREEITEM item;
        const PageNode* node;  // its node, through which its branch is found
    };
    std::vector<ToShow> to_show_;

    void redraw_off();
    void show_now(HTREEITEM item);
    void show_later(HTREEITEM item);
    void forget_below(HTREEITEM item, bool including_item);
    bool is_below(const ToShow& shown, HTREEITEM item, bool including_item) const;
};

}  // namespace vellum
