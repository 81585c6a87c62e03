#include "shell/request_tree_view_win.h"

#include <vector>

namespace vellum {
namespace {

HTREEITEM as_item(RequestTreeView::Item item) {
    return static_cast<HTREEITEM>(item);
}

}  // namespace

Win32RequestTreeView::Win32RequestTreeView(HWND tree_view)
    : tree_view_(tree_view), read_watch_(tree_view, [this] { put_pending_images(); }) {}

Win32RequestTreeView::~Win32RequestTreeView() = default;

bool Win32RequestTreeView::read_item(TVITEMA& query) {
    TreeReadWatch::OwnRead reading(read_watch_);
    return SendMessageA(tree_view_, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&query)) != 0;
}

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
        if (!read_item(query)) return std::string();
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
    if (frozen_) {
        for (PendingImage& pending : pending_images_) {
            if (pending.item == item) {
                pending.image = image;
                return;
            }
        }
        pending_images_.push_back({item, image});
        return;
    }
    put_state_image(item, image);
}

void Win32RequestTreeView::put_pending_images() {
    std::vector<PendingImage> pending;
    pending.swap(pending_images_);
    for (const PendingImage& image : pending) put_state_image(image.item, image.image);
}

void Win32RequestTreeView::put_state_image(Item item, int image) {
    TVITEMA change{};
    change.mask = TVIF_STATE;
    change.hItem = as_item(item);
    change.state = INDEXTOSTATEIMAGEMASK(image);
    change.stateMask = TVIS_STATEIMAGEMASK;
    SendMessageA(tree_view_, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&change));
}

void Win32RequestTreeView::delete_item(Item item) {
    std::erase_if(pending_images_, [item](const PendingImage& pending) { return pending.item == item; });
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
    // Put on in one batch while the control still neither paints nor
    // scrolls: set one at a time between ticks, each cost the UI thread about
    // a millisecond under load once the tree outgrew its window.
    put_pending_images();
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
    return read_item(query) ? reinterpret_cast<RequestNode*>(query.lParam) : nullptr;
}

}  // namespace vellum
