#include "autoget/page_tree_view_win.h"

namespace vellum {
namespace {

HTREEITEM as_item(PageTreeView::Item item) {
    return static_cast<HTREEITEM>(item);
}

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
    TreeView_EnsureVisible(tree_view_, as_item(item));
}

void Win32PageTreeView::begin_batch() {
    if (batching_) return;
    batching_ = true;
    first_to_show_ = last_to_show_ = nullptr;
    SendMessageA(tree_view_, WM_SETREDRAW, FALSE, 0);
}

void Win32PageTreeView::end_batch() {
    if (!batching_) return;
    batching_ = false;
    SendMessageA(tree_view_, WM_SETREDRAW, TRUE, 0);
    // The items of a batch follow one another, so showing each in turn ends
    // where showing the first and then the last does: the first scrolls the
    // view up to it if it lies above, the last down to it if it lies below.
    if (first_to_show_) TreeView_EnsureVisible(tree_view_, first_to_show_);
    if (last_to_show_ && last_to_show_ != first_to_show_) TreeView_EnsureVisible(tree_view_, last_to_show_);
    first_to_show_ = last_to_show_ = nullptr;
    InvalidateRect(tree_view_, nullptr, TRUE);
}

void Win32PageTreeView::collapse(Item item) {
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
