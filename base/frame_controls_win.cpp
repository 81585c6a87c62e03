#include "base/frame_controls_win.h"

#include <commctrl.h>

#include "base/tree_font_win.h"
#include "base/window_win.h"
#include "resources/resource.h"

namespace vellum {

int height_of(HWND window) {
    RECT rect{};
    if (window) GetWindowRect(window, &rect);
    return rect.bottom - rect.top;
}

HWND create_status_bar_with_progress(HWND parent, HINSTANCE instance, std::span<const int> part_edges,
                                     HWND& progress_bar) {
    HWND status_bar = CreateWindowExA(0, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0,
                                      parent, reinterpret_cast<HMENU>(IDC_STATUSBAR), instance, nullptr);
    SendMessageA(status_bar, SB_SETPARTS, part_edges.size(), reinterpret_cast<LPARAM>(part_edges.data()));
    RECT part{};
    SendMessageA(status_bar, SB_GETRECT, 0, reinterpret_cast<LPARAM>(&part));
    progress_bar = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE | PBS_SMOOTH, part.left, part.top,
                                   part.right - part.left, part.bottom - part.top, status_bar,
                                   reinterpret_cast<HMENU>(IDC_PROGRESS), instance, nullptr);
    SendMessageA(progress_bar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    return status_bar;
}

HWND create_state_tree(HWND parent, HINSTANCE instance, int id, HWND toolbar, HWND status_bar,
                       HIMAGELIST state_images) {
    RECT client{};
    GetClientRect(parent, &client);
    const int top = height_of(toolbar);
    HWND tree = CreateWindowExA(WS_EX_CLIENTEDGE, WC_TREEVIEWA, "",
                                WS_CHILD | WS_VISIBLE | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT |
                                    TVS_SHOWSELALWAYS | WS_VSCROLL | WS_HSCROLL,
                                0, top, client.right, client.bottom - top - height_of(status_bar), parent,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    if (tree) {
        swallow_typing(tree);
        use_dialog_font(tree);
        TreeView_SetImageList(tree, state_images, TVSIL_STATE);
    }
    return tree;
}

}  // namespace vellum
