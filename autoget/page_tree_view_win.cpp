#include "autoget/page_tree_view_win.h"

namespace vellum {
namespace {

PageNode* node_at(PageTreeView::Item item) {
    return static_cast<PageNode*>(item);
}

HTREEITEM item_in(const PageViewSlot& slot) {
    return static_cast<HTREEITEM>(slot.item);
}

// The root sentinel has no parent; its children are the base nodes, whose
// items are always there.
bool is_root(const PageNode* node) {
    return node && !node->parent();
}

bool has_other_child(const PageNode& parent, const PageNode& child) {
    for (const PageNode* at = parent.firstChild(); at; at = at->nextSibling()) {
        if (at != &child) return true;
    }
    return false;
}

// How many nodes to show a thaw keeps: the view ends where the last few
// leave it, and a long list would cost a scroll each.
constexpr std::size_t kMostNodesToShow = 64;

}  // namespace

Win32PageTreeView::Win32PageTreeView(HWND tree_view)
    : tree_view_(tree_view), read_watch_(tree_view, [this] { put_pending(); }) {}

HTREEITEM Win32PageTreeView::insert_item(HTREEITEM parent, PageNode& node, bool expanded) {
    const std::string label = page_label(node);
    // A new item starts as the node is now: nothing of an old one waits.
    node.view_slot().image_pending = node.view_slot().children_pending = false;
    TVINSERTSTRUCTA insert{};
    insert.hParent = parent ? parent : TVI_ROOT;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_STATE;
    insert.item.pszText = const_cast<char*>(label.c_str());
    insert.item.lParam = reinterpret_cast<LPARAM>(&node);
    insert.item.state = INDEXTOSTATEIMAGEMASK(node.view_slot().image) | (expanded ? TVIS_EXPANDED : 0);
    insert.item.stateMask = TVIS_STATEIMAGEMASK | (expanded ? TVIS_EXPANDED : 0);
    // Children without items of their own still give the item its button.
    if (node.firstChild() && !expanded) {
        insert.item.mask |= TVIF_CHILDREN;
        insert.item.cChildren = 1;
    }
    return reinterpret_cast<HTREEITEM>(SendMessageA(tree_view_, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
}

void Win32PageTreeView::put_has_children(HTREEITEM item, bool has_children) {
    TVITEMA change{};
    change.mask = TVIF_CHILDREN;
    change.hItem = item;
    change.cChildren = has_children ? 1 : 0;
    SendMessageA(tree_view_, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&change));
}

void Win32PageTreeView::put_image(HTREEITEM item, int image) {
    TVITEMA change{};
    change.mask = TVIF_STATE;
    change.hItem = item;
    change.state = INDEXTOSTATEIMAGEMASK(image);
    change.stateMask = TVIS_STATEIMAGEMASK;
    SendMessageA(tree_view_, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&change));
}

void Win32PageTreeView::hold_back(PageNode& node) {
    PageViewSlot& slot = node.view_slot();
    if (slot.queued) return;
    slot.queued = true;
    pending_.push_back(&node);
}

void Win32PageTreeView::set_has_children(PageNode& node, bool has_children) {
    PageViewSlot& slot = node.view_slot();
    if (!frozen_) {
        put_has_children(item_in(slot), has_children);
        return;
    }
    hold_back(node);
    slot.children_pending = true;
    slot.has_children = has_children;
}

// Puts on what waited, in the order it was asked for; a node whose item
// went (or was made again) meanwhile has nothing waiting.
void Win32PageTreeView::put_pending() {
    // Closing a branch reads nothing of images or buttons, and no image or
    // button change opens or closes one, so the closes go first.
    // Each close runs as it would have at once: one that an ancestor's close
    // follows still moves the horizontal scroll position on its own.
    std::vector<PageNode*> closing;
    closing.swap(to_collapse_);
    for (PageNode* node : closing) {
        node->view_slot().collapse_queued = false;
        close_branch(*node);
    }
    std::vector<PageNode*> waiting;
    waiting.swap(pending_);
    for (PageNode* node : waiting) {
        PageViewSlot& slot = node->view_slot();
        if (slot.item && slot.children_pending) put_has_children(item_in(slot), slot.has_children);
        if (slot.item && slot.image_pending) put_image(item_in(slot), slot.image);
        slot.image_pending = slot.children_pending = slot.queued = false;
    }
}

// Gives every child of `top` its item, and every child of a child whose
// branch stood open when its item went, and so on down.
void Win32PageTreeView::show_children(PageNode& top) {
    std::vector<PageNode*> open{&top};
    while (!open.empty()) {
        PageNode* parent = open.back();
        open.pop_back();
        PageViewSlot& slot = parent->view_slot();
        slot.children_shown = true;
        for (PageNode* child = parent->firstChild(); child; child = child->nextSibling()) {
            PageViewSlot& own = child->view_slot();
            const bool was_open = own.was_expanded;
            own.was_expanded = false;
            own.item = insert_item(item_in(slot), *child, was_open);
            if (own.item && was_open) open.push_back(child);
        }
    }
}

// Before a branch loses its items: which of the branches inside it are open.
void Win32PageTreeView::remember_open_branches(const PageNode& top) {
    std::vector<const PageNode*> pending{&top};
    while (!pending.empty()) {
        const PageNode* parent = pending.back();
        pending.pop_back();
        for (PageNode* child = parent->firstChild(); child; child = child->nextSibling()) {
            PageViewSlot& own = child->view_slot();
            if (!own.item) continue;
            // A branch opens only once its children have their items.
            TreeReadWatch::OwnRead reading(read_watch_);
            own.was_expanded = own.children_shown &&
                               (TreeView_GetItemState(tree_view_, item_in(own), TVIS_EXPANDED) & TVIS_EXPANDED) != 0;
            if (own.children_shown) pending.push_back(child);
        }
    }
}

void Win32PageTreeView::forget_items_below(PageNode& top) {
    std::vector<PageNode*> pending{&top};
    while (!pending.empty()) {
        PageNode* parent = pending.back();
        pending.pop_back();
        for (PageNode* child = parent->firstChild(); child; child = child->nextSibling()) {
            PageViewSlot& own = child->view_slot();
            if (!own.item) continue;
            if (own.children_shown) pending.push_back(child);
            own.item = nullptr;
            own.children_shown = false;
        }
    }
}

PageTreeView::Item Win32PageTreeView::insert_last(Item parent, const std::string&, PageNode* node) {
    PageNode* above = node_at(parent);
    PageViewSlot& slot = node->view_slot();
    slot = PageViewSlot{};
    if (!above || above->view_slot().children_shown) {
        slot.item = insert_item(above ? item_in(above->view_slot()) : nullptr, *node, false);
        return slot.item ? node : nullptr;
    }
    // Not yet linked: a parent without children gets its button now.
    if (above->view_slot().item && !above->firstChild()) set_has_children(*above, true);
    return node;
}

void Win32PageTreeView::delete_item(Item item) {
    PageNode& node = *node_at(item);
    forget_below(node, /*including_node=*/true);
    if (first_to_show_ == &node || last_to_show_ == &node) first_to_show_ = last_to_show_ = nullptr;
    PageViewSlot& slot = node.view_slot();
    if (slot.queued) std::erase(pending_, &node);
    if (slot.collapse_queued) std::erase(to_collapse_, &node);
    if (slot.item) {
        TreeView_DeleteItem(tree_view_, item_in(slot));
        slot.item = nullptr;
        return;
    }
    // The control takes a parent's button away with its last child item;
    // a parent whose children have none must lose it the same way.
    PageNode* parent = node.parent();
    if (!parent || is_root(parent)) return;
    const PageViewSlot& up = parent->view_slot();
    if (up.item && !up.children_shown && !has_other_child(*parent, node)) set_has_children(*parent, false);
}

void Win32PageTreeView::set_state_image(Item item, int image) {
    PageNode& node = *node_at(item);
    PageViewSlot& slot = node.view_slot();
    slot.image = static_cast<std::uint8_t>(image);
    if (!slot.item) return;
    if (!frozen_) {
        put_image(item_in(slot), image);
        return;
    }
    hold_back(node);
    slot.image_pending = true;
}

HTREEITEM Win32PageTreeView::shown_item(const PageNode& node) {
    return item_in(node.view_slot());
}

HTREEITEM Win32PageTreeView::make_item(PageNode& node) {
    // Branches closed before this must be closed before it opens one.
    if (!to_collapse_.empty()) put_pending();
    if (node.view_slot().item || is_root(&node)) return item_in(node.view_slot());
    // The nearest ancestor with an item, then down from it to the node.
    std::vector<PageNode*> above;
    for (PageNode* up = node.parent(); up && !is_root(up); up = up->parent()) {
        above.push_back(up);
        if (up->view_slot().item) break;
    }
    for (auto it = above.rbegin(); it != above.rend(); ++it) {
        PageViewSlot& slot = (*it)->view_slot();
        if (!slot.item) return nullptr;  // the control refused an item
        if (!slot.children_shown) show_children(**it);
    }
    return item_in(node.view_slot());
}

LRESULT Win32PageTreeView::on_item_expanding(const NMTREEVIEWA& change) {
    if ((change.action & TVE_EXPAND) == 0) return FALSE;
    auto* node = reinterpret_cast<PageNode*>(change.itemNew.lParam);
    if (node && node->view_slot().item == change.itemNew.hItem && !node->view_slot().children_shown) {
        show_children(*node);
    }
    return FALSE;
}

void Win32PageTreeView::ensure_visible(Item item) {
    PageNode& node = *node_at(item);
    if (batching_) {
        if (!first_to_show_) first_to_show_ = &node;
        last_to_show_ = &node;
        return;
    }
    if (frozen_) {
        show_later(node);
        return;
    }
    show_now(node);
}

void Win32PageTreeView::redraw_off() {
    SendMessageA(tree_view_, WM_SETREDRAW, FALSE, 0);
}

void Win32PageTreeView::show_now(PageNode& node) {
    if (HTREEITEM item = make_item(node)) TreeView_EnsureVisible(tree_view_, item);
}

void Win32PageTreeView::show_later(const PageNode& node) {
    if (to_show_.size() >= kMostNodesToShow) to_show_.erase(to_show_.begin());
    to_show_.push_back(&node);
}

// Forgets the remembered nodes in the branch of `node` (and `node` itself
// when asked): a collapsed branch must not open again at the thaw.
void Win32PageTreeView::forget_below(const PageNode& node, bool including_node) {
    std::erase_if(to_show_, [&](const PageNode* shown) {
        if (including_node && shown == &node) return true;
        for (const PageNode* at = shown->parent(); at; at = at->parent()) {
            if (at == &node) return true;
        }
        return false;
    });
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
    PageNode* first = first_to_show_;
    PageNode* last = last_to_show_;
    first_to_show_ = last_to_show_ = nullptr;
    // The nodes of a batch follow one another, so showing each in turn ends
    // where showing the first and then the last does: the first scrolls the
    // view up to it if it lies above, the last down to it if it lies below.
    if (frozen_) {
        if (first) show_later(*first);
        if (last && last != first) show_later(*last);
        return;
    }
    SendMessageA(tree_view_, WM_SETREDRAW, TRUE, 0);
    if (first) show_now(*first);
    if (last && last != first) show_now(*last);
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
    put_pending();
    if (batching_) return;  // the batch's end turns drawing back on
    SendMessageA(tree_view_, WM_SETREDRAW, TRUE, 0);
    std::vector<const PageNode*> pending;
    pending.swap(to_show_);
    for (const PageNode* shown : pending) show_now(*const_cast<PageNode*>(shown));
    // Painted now: the next crawler message freezes the tree again before a
    // queued WM_PAINT would come, and a frozen tree paints nothing.
    InvalidateRect(tree_view_, nullptr, TRUE);
    UpdateWindow(tree_view_);
}

void Win32PageTreeView::collapse(Item item) {
    PageNode& node = *node_at(item);
    PageViewSlot& slot = node.view_slot();
    // Showing a node of the branch later would open it again.
    if (frozen_) forget_below(node, /*including_node=*/false);
    if (!slot.item) {
        slot.was_expanded = false;
        return;
    }
    if (!frozen_) {
        close_branch(node);
    } else if (!slot.collapse_queued) {
        slot.collapse_queued = true;
        to_collapse_.push_back(&node);
    }
}

void Win32PageTreeView::close_branch(PageNode& node) {
    PageViewSlot& slot = node.view_slot();
    if (!slot.item) {
        slot.was_expanded = false;  // its item went with an ancestor's close
        return;
    }
    // Without child items there is nothing to close: a branch opens only
    // once they are there, and a childless item doesn't collapse.
    if (!slot.children_shown || !node.firstChild()) return;
    remember_open_branches(node);
    // Closed first, as always: the selection and the top row move out of the
    // branch. Wine's reset while the top row is inside it would free that
    // row and then measure from it.
    TreeView_Expand(tree_view_, item_in(slot), TVE_COLLAPSE);
    TreeView_Expand(tree_view_, item_in(slot), TVE_COLLAPSE | TVE_COLLAPSERESET);
    forget_items_below(node);
    slot.children_shown = false;
}

void Win32PageTreeView::select(Item item) {
    PageNode& node = *node_at(item);
    HTREEITEM shown = make_item(node);
    if (!shown) return;
    TreeView_SelectItem(tree_view_, shown);
    TreeView_EnsureVisible(tree_view_, shown);
}

PageNode* Win32PageTreeView::node_of(HTREEITEM item) const {
    if (!item) return nullptr;
    TVITEMA query{};
    query.mask = TVIF_PARAM;
    query.hItem = item;
    TreeReadWatch::OwnRead reading(const_cast<TreeReadWatch&>(read_watch_));
    if (!SendMessageA(tree_view_, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&query))) return nullptr;
    return reinterpret_cast<PageNode*>(query.lParam);
}

namespace {

// Calls `visit` with every node below the root sentinel in pre-order and its
// level (0 for a base node) until it returns false.
template <typename Visit>
void walk_preorder(const PageTree& tree, Visit visit) {
    const PageNode* node = tree.first_base();
    int depth = 0;
    while (node) {
        if (!visit(*node, depth)) return;
        if (node->firstChild()) {
            node = node->firstChild();
            ++depth;
            continue;
        }
        while (node && !node->nextSibling()) {
            node = node->parent();
            --depth;
            if (node && !node->parent()) node = nullptr;  // back at the root sentinel
        }
        if (node) node = node->nextSibling();
    }
}

}  // namespace

std::vector<PageOutlineLine> page_tree_outline(const PageTree& tree) {
    std::vector<PageOutlineLine> lines;
    walk_preorder(tree, [&](const PageNode& node, int depth) {
        lines.push_back({depth, node.view_slot().image, page_label(node)});
        return true;
    });
    return lines;
}

PageNode* page_tree_node_at(const PageTree& tree, std::size_t index) {
    const PageNode* found = nullptr;
    std::size_t at = 0;
    walk_preorder(tree, [&](const PageNode& node, int) {
        if (at++ != index) return true;
        found = &node;
        return false;
    });
    return const_cast<PageNode*>(found);
}

}  // namespace vellum
