// The page tree's view as it was before the view held items only for the
// nodes a user can reach: every node has an item, and collapsing a branch
// keeps its items. The side-by-side test drives it and today's view through
// the same script and requires that the user sees the same in both.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <vector>

#include "autoget/page_tree.h"

namespace vellum::testing {

class ItemPerNodeTreeView : public PageTreeView {
public:
    explicit ItemPerNodeTreeView(HWND tree_view) : tree_view_(tree_view) {}

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

namespace reference_view {

inline HTREEITEM as_item(PageTreeView::Item item) {
    return static_cast<HTREEITEM>(item);
}

// How many items to show a thaw keeps: the view ends where the last few
// leave it, and a long list would cost a scroll each.
inline constexpr std::size_t kMostItemsToShow = 64;

}  // namespace reference_view
using namespace reference_view;

inline PageTreeView::Item ItemPerNodeTreeView::insert_last(Item parent, const std::string& label, PageNode* node) {
    TVINSERTSTRUCTA insert{};
    insert.hParent = parent ? as_item(parent) : TVI_ROOT;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_STATE;
    insert.item.pszText = const_cast<char*>(label.c_str());
    insert.item.lParam = reinterpret_cast<LPARAM>(node);
    insert.item.state = INDEXTOSTATEIMAGEMASK(0);
    insert.item.stateMask = TVIS_STATEIMAGEMASK;
    return reinterpret_cast<HTREEITEM>(SendMessageA(tree_view_, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
}

inline void ItemPerNodeTreeView::delete_item(Item item) {
    forget_below(as_item(item), /*including_item=*/true);
    if (first_to_show_ == item || last_to_show_ == item) first_to_show_ = last_to_show_ = nullptr;
    TreeView_DeleteItem(tree_view_, as_item(item));
}

inline void ItemPerNodeTreeView::set_state_image(Item item, int image) {
    TVITEMA change{};
    change.mask = TVIF_STATE;
    change.hItem = as_item(item);
    change.state = INDEXTOSTATEIMAGEMASK(image);
    change.stateMask = TVIS_STATEIMAGEMASK;
    SendMessageA(tree_view_, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&change));
}

inline void ItemPerNodeTreeView::ensure_visible(Item item) {
    if (batching_) {
        if (!first_to_show_) first_to_show_ = as_item(item);
        last_to_show_ = as_item(item);
        return;
    }
    if (frozen_) {
        show_later(as_item(item));
        return;
    }
    TreeView_EnsureVisible(tree_view_, as_item(item));
}

inline void ItemPerNodeTreeView::redraw_off() {
    SendMessageA(tree_view_, WM_SETREDRAW, FALSE, 0);
}

inline void ItemPerNodeTreeView::show_now(HTREEITEM item) {
    TreeView_EnsureVisible(tree_view_, item);
}

inline void ItemPerNodeTreeView::show_later(HTREEITEM item) {
    if (to_show_.size() >= kMostItemsToShow) to_show_.erase(to_show_.begin());
    to_show_.push_back({item, node_of(item)});
}

// Whether the remembered item lies in the branch of `item` (or is `item`).
// The node's parents answer without asking the control, which under Wine
// looks every item handle up in a list as long as the tree.
inline bool ItemPerNodeTreeView::is_below(const ToShow& shown, HTREEITEM item, bool including_item) const {
    if (including_item && shown.item == item) return true;
    if (shown.node) {
        for (const PageNode* at = shown.node->parent(); at; at = at->parent()) {
            if (at->item() == item) return true;
        }
        return false;
    }
    for (HTREEITEM at = TreeView_GetParent(tree_view_, shown.item); at; at = TreeView_GetParent(tree_view_, at)) {
        if (at == item) return true;
    }
    return false;
}

inline void ItemPerNodeTreeView::forget_below(HTREEITEM item, bool including_item) {
    std::erase_if(to_show_, [&](const ToShow& shown) { return is_below(shown, item, including_item); });
}

inline void ItemPerNodeTreeView::begin_batch() {
    if (batching_) return;
    batching_ = true;
    first_to_show_ = last_to_show_ = nullptr;
    if (!frozen_) redraw_off();
}

inline void ItemPerNodeTreeView::end_batch() {
    if (!batching_) return;
    batching_ = false;
    HTREEITEM first = first_to_show_;
    HTREEITEM last = last_to_show_;
    first_to_show_ = last_to_show_ = nullptr;
    // The items of a batch follow one another, so showing each in turn ends
    // where showing the first and then the last does: the first scrolls the
    // view up to it if it lies above, the last down to it if it lies below.
    if (frozen_) {
        if (first) show_later(first);
        if (last && last != first) show_later(last);
        return;
    }
    SendMessageA(tree_view_, WM_SETREDRAW, TRUE, 0);
    if (first) show_now(first);
    if (last && last != first) show_now(last);
    InvalidateRect(tree_view_, nullptr, TRUE);
}

inline void ItemPerNodeTreeView::freeze() {
    if (frozen_) return;
    frozen_ = true;
    if (!batching_) redraw_off();
}

inline void ItemPerNodeTreeView::thaw() {
    if (!frozen_) return;
    frozen_ = false;
    if (batching_) return;  // the batch's end turns drawing back on
    SendMessageA(tree_view_, WM_SETREDRAW, TRUE, 0);
    std::vector<ToShow> pending;
    pending.swap(to_show_);
    for (const ToShow& shown : pending) show_now(shown.item);
    // Painted now: the next crawler message freezes the tree again before a
    // queued WM_PAINT would come, and a frozen tree paints nothing.
    InvalidateRect(tree_view_, nullptr, TRUE);
    UpdateWindow(tree_view_);
}

inline void ItemPerNodeTreeView::collapse(Item item) {
    // Showing an item of the branch later would open it again.
    if (frozen_) forget_below(as_item(item), /*including_item=*/false);
    TreeView_Expand(tree_view_, as_item(item), TVE_COLLAPSE);
}

inline void ItemPerNodeTreeView::select(Item item) {
    TreeView_SelectItem(tree_view_, as_item(item));
    TreeView_EnsureVisible(tree_view_, as_item(item));
}

inline PageNode* ItemPerNodeTreeView::node_of(HTREEITEM item) const {
    if (!item) return nullptr;
    TVITEMA query{};
    query.mask = TVIF_PARAM;
    query.hItem = item;
    if (!SendMessageA(tree_view_, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&query))) return nullptr;
    return reinterpret_cast<PageNode*>(query.lParam);
}

}  // namespace vellum::testing
