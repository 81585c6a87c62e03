// A watch on a tree-view control for reads of its items by anyone but the
// view that fills it: a view that holds changes back while its tree is frozen
// puts them on before such a read (TVM_GETITEM, TVM_GETITEMSTATE), so that a
// tester or an accessibility tool never reads a stale item. The control's
// procedure is replaced for the watch's life and put back after; the watches
// are found through a list of the program's own, as a window property cost
// wineserver calls on every message. UI thread.
#pragma once

#include <windows.h>

#include <functional>

namespace vellum {

class TreeReadWatch {
public:
    TreeReadWatch(HWND tree, std::function<void()> before_outside_read);
    ~TreeReadWatch();
    TreeReadWatch(const TreeReadWatch&) = delete;
    TreeReadWatch& operator=(const TreeReadWatch&) = delete;

    // While one lives, the view's own reads go through unwatched.
    class OwnRead {
    public:
        explicit OwnRead(TreeReadWatch& watch) : watch_(watch), was_(watch.own_read_) { watch_.own_read_ = true; }
        ~OwnRead() { watch_.own_read_ = was_; }
        OwnRead(const OwnRead&) = delete;
        OwnRead& operator=(const OwnRead&) = delete;

    private:
        TreeReadWatch& watch_;
        bool was_;
    };

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

    HWND tree_;
    std::function<void()> before_outside_read_;
    WNDPROC previous_ = nullptr;
    bool own_read_ = false;
};

}  // namespace vellum
