#include "base/tree_read_watch_win.h"

#include <commctrl.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace vellum {
namespace {

std::vector<TreeReadWatch*>& watches() {
    static std::vector<TreeReadWatch*> all;
    return all;
}

}  // namespace

TreeReadWatch::TreeReadWatch(HWND tree, std::function<void()> before_outside_read)
    : tree_(tree), before_outside_read_(std::move(before_outside_read)) {
    if (!tree_) return;
    watches().push_back(this);
    previous_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(tree_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TreeReadWatch::procedure)));
}

TreeReadWatch::~TreeReadWatch() {
    // Put back only what is still ours: a control destroyed or re-hooked
    // since keeps its own procedure.
    if (tree_ && previous_ && IsWindow(tree_) &&
        GetWindowLongPtrA(tree_, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&TreeReadWatch::procedure)) {
        SetWindowLongPtrA(tree_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
    }
    std::erase(watches(), this);
}

LRESULT CALLBACK TreeReadWatch::procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    TreeReadWatch* watch = nullptr;
    for (TreeReadWatch* each : watches()) {
        if (each->tree_ == window) watch = each;
    }
    if (!watch || !watch->previous_) return DefWindowProcA(window, message, wparam, lparam);
    switch (message) {
    case TVM_GETITEMA:
    case TVM_GETITEMW:
    case TVM_GETITEMSTATE:
        if (!watch->own_read_ && watch->before_outside_read_) {
            OwnRead own(*watch);  // what it puts on must not call it again
            watch->before_outside_read_();
        }
        break;
    }
    return CallWindowProcA(watch->previous_, window, message, wparam, lparam);
}

}  // namespace vellum
