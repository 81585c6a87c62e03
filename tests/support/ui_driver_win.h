// Plays the user at the screen while the test thread sits in a modal loop (a
// dialog, the folder browser, a popup menu): a script runs on a thread of its
// own, waits for the test thread's windows to appear and acts on them with
// the messages a user's typing and clicks produce (texts set in edits,
// BM_CLICK on buttons, mouse buttons on a tree, keys in a menu).
//
// When the script ends, every dialog the test thread still shows is
// cancelled, so that a failed expectation never leaves the test waiting for
// a person. Construct it on the test thread just before the call that opens
// the first window.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace vellum::testing {

class UiDriver {
public:
    explicit UiDriver(std::function<void(UiDriver&)> script) : ui_thread_(GetCurrentThreadId()) {
        thread_ = std::thread([this, script = std::move(script)] {
            script(*this);
            sweep();
            done = true;
        });
    }
    ~UiDriver() { join(); }
    UiDriver(const UiDriver&) = delete;
    UiDriver& operator=(const UiDriver&) = delete;

    void join() {
        if (thread_.joinable()) thread_.join();
    }

    std::atomic<bool> done{false};

    // --- finding windows -------------------------------------------------------------

    // Visible top-level windows of the test thread with this class (and
    // title, when given), newest first as the system lists them.
    std::vector<HWND> windows(const char* class_name, const char* title = nullptr) const {
        struct Search {
            const char* class_name;
            const char* title;
            std::vector<HWND> found;
        } search{class_name, title, {}};
        EnumThreadWindows(
            ui_thread_,
            [](HWND window, LPARAM param) -> BOOL {
                auto* s = reinterpret_cast<Search*>(param);
                char name[64] = {};
                GetClassNameA(window, name, sizeof name);
                if (!IsWindowVisible(window) || std::strcmp(name, s->class_name) != 0) return TRUE;
                if (s->title && window_title(window) != s->title) return TRUE;
                s->found.push_back(window);
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&search));
        return search.found;
    }

    // Waits for a visible dialog of the test thread with this title;
    // nullptr after a long while (a guard, not a measure).
    HWND wait_dialog(const char* title, HWND not_this = nullptr) const {
        return wait_for([&]() -> HWND {
            for (HWND w : windows("#32770", title)) {
                if (w != not_this) return w;
            }
            return nullptr;
        });
    }

    // The shell's folder browser: a dialog of the test thread with a tree.
    HWND wait_browser(HWND not_this = nullptr) const {
        return wait_for([&]() -> HWND {
            for (HWND w : windows("#32770")) {
                if (w != not_this && tree_of(w)) return w;
            }
            return nullptr;
        });
    }

    // A popup menu on the screen.
    HWND wait_menu(DWORD limit_ms = 20000) const {
        return wait_for([]() -> HWND {
            HWND menu = FindWindowA("#32768", nullptr);
            return menu && IsWindowVisible(menu) ? menu : nullptr;
        }, limit_ms);
    }

    bool wait_gone(HWND window) const {
        return wait_for([&]() -> HWND { return IsWindow(window) ? nullptr : HWND(1); }) != nullptr;
    }

    static HWND wait_for(const std::function<HWND()>& find, DWORD limit_ms = 20000) {
        const ULONGLONG start = GetTickCount64();
        for (;;) {
            if (HWND found = find()) return found;
            if (GetTickCount64() - start > limit_ms) return nullptr;
            Sleep(20);
        }
    }

    // The title without a message to the window's thread.
    static std::string window_title(HWND window) {
        wchar_t wide[512] = {};
        InternalGetWindowText(window, wide, 512);
        char text[1024] = {};
        WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
        return text;
    }

    // --- acting on dialogs -------------------------------------------------------------

    static std::string text(HWND dialog, int id) {
        char buffer[2048] = {};
        SendDlgItemMessageA(dialog, id, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer));
        return buffer;
    }
    static void type(HWND dialog, int id, const std::string& text) {
        SendDlgItemMessageA(dialog, id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    // A click on a button (or a check box); returns when the dialog has
    // handled it. A click that opens a modal window of its own would not
    // return: those (menus) are chosen with posted keys instead.
    static void click(HWND dialog, int id) { SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }
    // The Enter key in a dialog: its default button's command.
    static void press_enter(HWND dialog) { PostMessageA(dialog, WM_COMMAND, IDOK, 0); }
    // Waits until the window's thread has handled what was sent to it and
    // comes back to its message loop.
    static void settle(HWND window) { SendMessageA(window, WM_NULL, 0, 0); }
    static bool checked(HWND dialog, int id) {
        return SendDlgItemMessageA(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    static bool enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }
    static bool visible(HWND dialog, int id) { return IsWindowVisible(GetDlgItem(dialog, id)) != FALSE; }

    // A drop-down list: the items, the selection, and choosing one as the
    // user does (the list tells its dialog of the change).
    static std::vector<std::string> list_items(HWND dialog, int id) {
        std::vector<std::string> items;
        const LRESULT count = SendDlgItemMessageA(dialog, id, CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            char item[512] = {};
            SendDlgItemMessageA(dialog, id, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item));
            items.push_back(item);
        }
        return items;
    }
    static int list_selection(HWND dialog, int id) {
        return static_cast<int>(SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0));
    }
    static void choose(HWND dialog, int id, int index) {
        SendDlgItemMessageA(dialog, id, CB_SETCURSEL, index, 0);
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
    }

    // --- the folder browser's tree ---------------------------------------------------

    static HWND tree_of(HWND browser) { return FindWindowExA(browser, nullptr, WC_TREEVIEWA, nullptr); }
    static HTREEITEM selected(HWND tree) {
        return reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    }
    static HTREEITEM parent(HWND tree, HTREEITEM item) {
        return reinterpret_cast<HTREEITEM>(
            SendMessageA(tree, TVM_GETNEXTITEM, TVGN_PARENT, reinterpret_cast<LPARAM>(item)));
    }
    static std::string label(HWND tree, HTREEITEM item) {
        char text[512] = {};
        TVITEMA data{};
        data.mask = TVIF_TEXT;
        data.hItem = item;
        data.pszText = text;
        data.cchTextMax = sizeof text;
        SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&data));
        return text;
    }
    static void select(HWND tree, HTREEITEM item) {
        SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
    }
    // The middle of an item's label, in the tree's client coordinates.
    static POINT label_point(HWND tree, HTREEITEM item) {
        // The message takes the item in the rectangle's first bytes.
        RECT rect{};
        std::memcpy(&rect, &item, sizeof item);
        SendMessageA(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&rect));
        return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    }
    // A right-click at a point of a window's client area, with the mouse
    // pointer moved there first (the tree takes the menu's place from it).
    static void right_click(HWND window, POINT at) {
        POINT screen = at;
        ClientToScreen(window, &screen);
        // The display reports the move back a moment later; a motion it
        // still had queued from an earlier move could put the pointer back.
        for (int settled = 0, tries = 0; settled < 3 && tries < 100; ++tries) {
            POINT now{};
            GetCursorPos(&now);
            if (now.x == screen.x && now.y == screen.y) {
                ++settled;
            } else {
                settled = 0;
                SetCursorPos(screen.x, screen.y);
            }
            Sleep(30);
        }
        const LPARAM where = MAKELPARAM(at.x, at.y);
        PostMessageA(window, WM_RBUTTONDOWN, MK_RBUTTON, where);
        PostMessageA(window, WM_RBUTTONUP, 0, where);
    }
    // The texts of a popup menu on the screen.
    static std::vector<std::string> menu_items(HWND menu_window) {
        std::vector<std::string> items;
        HMENU menu = reinterpret_cast<HMENU>(SendMessageA(menu_window, MN_GETHMENU, 0, 0));
        for (int i = 0; menu && i < GetMenuItemCount(menu); ++i) {
            char text[256] = {};
            GetMenuStringA(menu, i, text, sizeof text, MF_BYPOSITION);
            items.push_back(text);
        }
        return items;
    }
    // Chooses the menu's item at `index` with the keyboard (the menu loop
    // reads the keys of its owner's thread): the down arrow to it, then
    // Enter as the character it turns into.
    static void choose_menu_item(HWND owner, int index) {
        for (int i = 0; i <= index; ++i) PostMessageA(owner, WM_KEYDOWN, VK_DOWN, 0);
        PostMessageA(owner, WM_CHAR, '\r', 0);
    }

private:
    // Cancels what the script left open, newest first, until nothing is.
    void sweep() {
        for (int round = 0; round < 50; ++round) {
            std::vector<HWND> open = windows("#32770");
            if (HWND menu = FindWindowA("#32768", nullptr); menu && IsWindowVisible(menu)) {
                // The menu loop takes the keys of its thread, whichever window they name.
                if (!open.empty()) PostMessageA(open.front(), WM_KEYDOWN, VK_ESCAPE, 0);
                Sleep(100);
                continue;
            }
            if (open.empty()) return;
            PostMessageA(open.front(), WM_COMMAND, IDCANCEL, 0);
            Sleep(100);
        }
    }

    DWORD ui_thread_;
    std::thread thread_;
};

}  // namespace vellum::testing
