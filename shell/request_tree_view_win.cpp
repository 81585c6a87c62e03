#include "shell/request_tree_view_win.h"

#include <vector>

namespace vellum {
namespace {

HTREEITEM as_item(RequestTreeView::Item item) {
    return static_cast<HTREEITEM>(item);
}

}  // namespace

RequestTreeView::Item Win32RequestTreeView::root_item() {
    return TVI_ROOT;
}

RequestTreeView::Item Win32RequestTreeView::insert_last(Item parent, const std::string& text, RequestNode* node,
                                                        int state_image) {
    TVINSERTSTRUCTA insert{};
    insert.hParent = as_item(parent);
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_STATE;
    insert.item.pszText = const_cast<char*>(text.c_str());
    insert.item.lParam = reinterpret_cast<LPARAM>(node);
    insert.item.state = INDEXTOSTATEIMAGEMASK(state_image);
    insert.item.stateMask = TVIS_STATEIMAGEMASK;
    return reinterpret_cast<HTREEITEM>(
        SendMessageA(tree_view_, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
}

std::string Win32RequestTreeView::item_text(Item item) {
    // Labels are URLs of any length: grow the buffer until the text fits.
    for (std::size_t size = 1024; size <= 1024 * 1024; size *= 4) {
        std::vector<char> buffer(size, '\0');
        TVITEMA query{};
        query.mask = TVIF_TEXT;
        query.hItem = as_item(item);
        query.pszText = buffer.data();
        query.cchTextMax = static_cast<int>(size);
        if (!SendMessageA(tree_view_, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&query))) return std::string();
        std::string text(query.pszText);
        if (text.size() + 1 < size) return text;
    }
    return std::string();
}

void Win32RequestTreeView::set_item_text(Item item, const std::string& text) {
    TVITEMA change{};
    change.mask = TVIF_TEXT;
    change.hItem = as_item(item);
    change.pszText = const_cast<char*>(text.c_str());
    SendMessageA(tree_view_, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&change));
}

void Win32RequestTreeView::set_state_image(Item item, int image) {
    TVITEMA change{};
    change.mask = TVIF_STATE;
    change.hItem = as_item(item);
    change.state = INDEXTOSTATEIMAGEMASK(image);
    change.stateMask = TVIS_STATEIMAGEMASK;
    SendMessageA(tree_view_, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&change));
}

void Win32RequestTreeView::delete_item(Item item) {
    if (to_select_ && to_select_->item == item) to_select_ = nullptr;
    own_change_ = true;
    TreeView_DeleteItem(tree_view_, as_item(item));
    own_change_ = false;
}

void Win32RequestTreeView::select_item(Item item) {
    if (frozen_) {
        if (RequestNode* node = node_of(item)) to_select_ = node;
        return;
    }
    own_change_ = true;
    TreeView_SelectItem(tree_view_, as_item(item));
    TreeView_EnsureVisible(tree_view_, as_item(item));
    own_change_ = false;
}

void Win32RequestTreeView::freeze() {
    if (frozen_) return;
    frozen_ = true;
    SendMessageA(tree_view_, WM_SETREDRAW, FALSE, 0);
}

void Win32RequestTreeView::thaw() {
    if (!frozen_) return;
    frozen_ = false;
    SendMessageA(tree_view_, WM_SETREDRAW, TRUE, 0);
    RequestNode* node = to_select_;
    to_select_ = nullptr;
    if (node && node->item) select_item(node->item);
    // Painted now: the next report freezes the tree again before a queued
    // WM_PAINT would come, and a frozen tree paints nothing.
    InvalidateRect(tree_view_, nullptr, TRUE);
    UpdateWindow(tree_view_);
}

void Win32RequestTreeView::selection_changed() {
    if (frozen_ && !own_change_) to_select_ = nullptr;
}

RequestNode* Win32RequestTreeView::node_of(Item item) {
    TVITEMA query{};
    query.mask = TVIF_PARAM;
    query.hItem = as_item(item);
    if (!SendMessageA(tree_view_, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&query))) return nullptr;
    return reinterpret_cast<RequestNode*>(query.lParam);
}

}  // namespace vellum
