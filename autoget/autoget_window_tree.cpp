// The page tree's context menu and keys. A command runs on the node it was
// asked for (the menu node) inside the deferral, so that the crawler's
// messages can't change the tree under it; never on the node being fetched
// or one that is busy.
#include <windowsx.h>

#include <functional>

#include "autoget/autoget_window.h"
#include "resources/resource.h"

namespace vellum {

bool AutoGetWindow::acts_on(const PageNode* node) const {
    return node && node != current_ && node->activity() == 0;
}

bool AutoGetWindow::run_on_node(PageNode* node, UINT command) {
    return run_on_node(node, [this, command] { SendMessageA(window(), WM_COMMAND, command, 0); });
}

bool AutoGetWindow::run_on_node(PageNode* node, const std::function<void()>& action) {
    thaw_tree();
    if (!acts_on(node)) return false;
    enter_defer();
    menu_node_ = node;
    action();
    menu_node_ = nullptr;
    leave_defer();
    return true;
}

void AutoGetWindow::search_again(PageNode* from, bool upward) {
    if (settings_.recScanString.empty()) return;
    tree_->search_tree(from, settings_.recScanString, settings_.recScanUplow != 0, upward);
}

bool AutoGetWindow::OnTreeNotify(NMHDR* header, LRESULT& result) {
    if (header->code == NM_DBLCLK || header->code == TVN_KEYDOWN) thaw_tree();
    switch (header->code) {
    case NM_DBLCLK:
        result = run_on_node(tree_view_adapter_->node_of(TreeView_GetSelection(tree_view_)), ID_PAGE_SETTINGS) ? 1 : 0;
        return true;
    case TVN_KEYDOWN:
        result = OnTreeKeyDown(reinterpret_cast<const NMTVKEYDOWN*>(header)) ? 1 : 0;
        return true;
    case TVN_ITEMEXPANDINGA:
    case TVN_ITEMEXPANDINGW:
        // Both forms place the item's handle and data alike.
        result = tree_view_adapter_->on_item_expanding(*reinterpret_cast<const NMTREEVIEWA*>(header));
        return true;
    }
    return false;
}

bool AutoGetWindow::OnTreeKeyDown(const NMTVKEYDOWN* key) {
    const bool control = GetKeyState(VK_CONTROL) < 0;
    PageNode* selected = tree_view_adapter_->node_of(TreeView_GetSelection(tree_view_));
    UINT command = 0;
    switch (key->wVKey) {
    case VK_DELETE: command = ID_PAGE_DELETE; break;
    case VK_ESCAPE: command = ID_PAGE_SKIP; break;
    case VK_RETURN: command = ID_PAGE_SETTINGS; break;
    case 'F': if (control) command = ID_PAGE_SEARCH; break;
    case 'C': if (control) command = ID_PAGE_COPY; break;
    case VK_F3:
        if (settings_.recScanString.empty()) return false;
        return run_on_node(selected, [this, selected, upward = GetKeyState(VK_SHIFT) < 0] {
            search_again(selected, upward);
        });
    }
    return command && run_on_node(selected, command);
}

bool AutoGetWindow::OnContextMenu(HWND from, LPARAM point) {
    if (from != tree_view_ || !tree_view_) return false;
    thaw_tree();
    const bool from_keyboard = point == -1;
    POINT at{GET_X_LPARAM(point), GET_Y_LPARAM(point)};
    HTREEITEM item = nullptr;
    if (!from_keyboard) {
        TVHITTESTINFO hit{};
        hit.pt = at;
        ScreenToClient(tree_view_, &hit.pt);
        if (TreeView_HitTest(tree_view_, &hit) && (hit.flags & TVHT_ONITEM)) {
            item = hit.hItem;
            TreeView_SelectItem(tree_view_, item);
        }
    }
    if (!item) item = TreeView_GetSelection(tree_view_);
    if (!item) return true;

    RECT client{};
    GetClientRect(tree_view_, &client);
    POINT inside = at;
    ScreenToClient(tree_view_, &inside);
    if (from_keyboard || !PtInRect(&client, inside)) {
        at = POINT{0, 0};
        ClientToScreen(tree_view_, &at);
    }

    PageNode* node = tree_view_adapter_->node_of(item);
    if (!acts_on(node) || !tree_menu_) return true;
    EnableMenuItem(tree_menu_, ID_PAGE_SETTINGS, MF_BYCOMMAND | MF_ENABLED);
    const bool finished = node->result() != 0 || node->error() != 0;
    EnableMenuItem(tree_menu_, ID_PAGE_RESET, MF_BYCOMMAND | (finished ? MF_ENABLED : MF_GRAYED));
    ModifyMenuA(tree_menu_, ID_PAGE_SKIP, MF_BYCOMMAND | MF_STRING, ID_PAGE_SKIP,
                node->skipReason() != 0 ? "スキップ解除(&S)\tEsc" : "スキップ(&S)\tEsc");
    // Offline, the browser reads the recorded copy through the proxy.
    const bool browsable = !host_.internet_on() && node->result() != 0;
    EnableMenuItem(tree_menu_, ID_PAGE_BROWSE, MF_BYCOMMAND | (browsable ? MF_ENABLED : MF_GRAYED));

    enter_defer();
    menu_node_ = node;
    const UINT command = static_cast<UINT>(
        TrackPopupMenu(tree_menu_, TPM_LEFTALIGN | TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0, window(), nullptr));
    if (command) SendMessageA(window(), WM_COMMAND, command, 0);
    menu_node_ = nullptr;
    leave_defer();
    return true;
}

}  // namespace vellum
