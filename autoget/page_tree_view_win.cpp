#include "autoget/page_tree_view_win.h"

namespace vellum {
namespace {

HTREEITEM as_item(PageTreeView::Item item) {
    return static_cast<HTREEITEM>(item);
}

// How many items to show a thaw keeps: the view ends where the last few
// leave it, and a long list would cost a scroll each.
constexpr std::size_t kMostItemsToShow = 64;

}  // namespace

PageTreeView::Item Win32PageTreeView::insert_last(Item parent, const std::string& label, PageNode* node) {
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

void Win32PageTreeView::delete_item(Item item) {
    forget_below(as_item(item), /*including_item=*/true);
    if (first_to_show_ == item || last_to_show_ == item) first_to_show_ = last_to_show_ = nullptr;
    TreeView_DeleteItem(tree_view_, as_item(item));
}

void Win32PageTreeView::set_state_image(Item item, int image) {
    TVITEMA change{};
    change.mask = TVIF_STATE;
    change.hItem = as_item(item);
    change.state = INDEXTOSTATEIMAGEMASK(image);
    change.stateMask = TVIS_STATEIMAGEMASK;
    SendMessageA(tree_view_, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&change));
}

void Win32PageTreeView::ensure_visible(Item item) {
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

void Win32PageTreeView::redraw_off() {
    SendMessageA(tree_view_, WM_SETREDRAW, FALSE, 0);
}

void Win32PageTreeView::show_now(HTREEITEM item) {
    TreeView_EnsureVisible(tree_view_, item);
}

void Win32PageTreeView::show_later(HTREEITEM item) {
    if (to_show_.size() >= kMostItemsToShow) to_show_.erase(to_show_.begin());
    to_show_.push_back({item, node_of(item)});
}

// Whether the remembered item lies in the branch of `item` (or is `item`).
// The node's parents answer without asking the control, which under Wine
// looks every item handle up in a list as long as the tree.
bool Win32PageTreeView::is_below(const ToShow& shown, HTREEITEM item, bool including_item) const {
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

void Win32PageTreeView::forget_below(HTREEITEM item, bool including_item) {
    std::erase_if(to_show_, [&](const ToShow& shown) { return is_below(shown, item, including_item); });
}

void Win32PageTreeView::begin_batch() {
    if (batching_) return;
    batching_ = true;
    first_to_show_ = last_to_show_ = nullptr;
    if (!frozen_) redraw_off();
}

void Win32PageTreeView::end_batch() {
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

void Win32PageTreeView::freeze() {
    if (frozen_) return;
    frozen_ = true;
    if (!batching_) redraw_off();
}

void Win32PageTreeView::thaw() {
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

void Win32PageTreeView::collapse(Item item) {
    // Showing an item of the branch later would open it again.
    if (frozen_) forget_below(as_item(item), /*including_item=*/false);
    TreeView_Expand(tree_view_, as_item(item), TVE_COLLAPSE);
}

void Win32PageTreeView::select(Item item) {
    TreeView_SelectItem(tree_view_, as_item(item));
    TreeView_EnsureVisible(tree_view_, as_item(item));
}

PageNode* Win32PageTreeView::node_of(HTREEITEM item) const {
    if (!item) return nullptr;
    TVITEMA query{};
    query.mask = TVIF_PARAM;
    query.hItem = item;
    if (!SendMessageA(tree_view_, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&query))) return nullptr;
    return reinterpret_cast<PageNode*>(query.lParam);
}

}  // namespace vellum
