#include "base/folder_chooser_win.h"

#include <windowsx.h>
#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstring>

#include "base/folder_name_dialog_win.h"
#include "base/folder_paths.h"
#include "base/placement_win.h"
#include "base/prompt.h"
#include "base/win_handles.h"
#include "resources/resource.h"

namespace vellum {
namespace {

// The folder texts are 260-byte buffers of the stored format.
constexpr std::size_t kPathLimit = MAX_PATH;

constexpr char kTooLong[] = "フルパス名が長すぎてフォルダを作成できません。";

// One chooser at a time, so one state for the program. The browser's own
// procedure belongs to the browser open now; the reopen values are only
// meaningful for the opening that follows a create or delete.
struct ChooserState {
    HWND owner = nullptr;
    std::string current_folder;  // of the selection; empty when it has no file-system path
    std::string reopen_folder;
    RECT reopen_rect{};
    WNDPROC browser_procedure = nullptr;
};

ChooserState g_chooser;

std::string path_of(LPCITEMIDLIST item) {
    char path[MAX_PATH] = {};
    if (!item || !SHGetPathFromIDListA(item, path)) return {};
    return path;
}

bool is_tree_view(HWND window) {
    char class_name[32] = {};
    GetClassNameA(window, class_name, sizeof class_name);
    return lstrcmpiA(class_name, WC_TREEVIEWA) == 0;
}

// Closes the browser, then asks the owner to open it again where it stood,
// with `select` selected. The close goes first: the owner's re-open then
// runs after this browser's loop has ended, not inside it.
void reopen(HWND browser, const std::string& select) {
    g_chooser.reopen_folder = select;
    // A dialog without minimise or maximise box is always in its normal
    // state, so its window rectangle is its normal rectangle (and in screen
    // coordinates, which place_window takes).
    GetWindowRect(browser, &g_chooser.reopen_rect);
    PostMessageA(browser, WM_COMMAND, IDCANCEL, 0);
    PostMessageA(g_chooser.owner, kReopenFolderMessage, 0, 0);
}

void create_folder(HWND browser) {
    std::string path = g_chooser.current_folder;
    if (path.size() >= kPathLimit) {
        show_warning(browser, kTooLong);
        return;
    }
    std::string typed;
    if (ask_folder_name(browser, typed) != IDOK || typed.empty()) return;
    const std::string name = trim_backslashes(typed);
    if (name.empty()) return;
    if (!ends_with_backslash(path)) path += '\\';
    if (path.size() + name.size() >= kPathLimit) {
        show_warning(browser, kTooLong);
        return;
    }
    path += name;
    if (!CreateDirectoryA(path.c_str(), nullptr)) {
        show_warning(browser, "フォルダの作成に失敗しました。");
        return;
    }
    reopen(browser, path);
}

void delete_folder(HWND browser) {
    const std::string path = g_chooser.current_folder;
    if (is_drive_root(path)) {
        show_warning(browser, "ルートは削除できません。");
        return;
    }
    if (!RemoveDirectoryA(path.c_str())) {
        show_warning(browser, "フォルダの削除に失敗しました。");
        return;
    }
    reopen(browser, parent_folder(path));
}

// The create/delete menu, only for a right-click on the selected item of the
// tree (its icon, label or state image) when that item is a folder of the
// file system. False leaves the message to the browser.
bool show_folder_menu(HWND browser, HWND clicked, LPARAM point) {
    if (point == -1 || !clicked || !is_tree_view(clicked)) return false;  // -1: from the keyboard
    const POINT at{GET_X_LPARAM(point), GET_Y_LPARAM(point)};
    TVHITTESTINFO hit{};
    hit.pt = at;
    ScreenToClient(clicked, &hit.pt);
    const HTREEITEM item = TreeView_HitTest(clicked, &hit);
    if (!item || !(hit.flags & TVHT_ONITEM) || item != TreeView_GetSelection(clicked)) return false;
    if (g_chooser.current_folder.empty()) return false;

    g_chooser.reopen_folder = g_chooser.current_folder;
    UniqueMenu menu(CreatePopupMenu());
    if (!menu) return true;
    AppendMenuA(menu.get(), MF_STRING, ID_FOLDER_CREATE, "新規フォルダ作成");
    AppendMenuA(menu.get(), MF_STRING, ID_FOLDER_DELETE, "フォルダ削除");
    // The chosen command arrives as WM_COMMAND to the browser, below.
    TrackPopupMenu(menu.get(), TPM_LEFTALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, browser, nullptr);
    return true;
}

LRESULT CALLBACK browser_procedure(HWND browser, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_CONTEXTMENU:
        if (show_folder_menu(browser, reinterpret_cast<HWND>(wparam), lparam)) return 0;
        break;
    case WM_COMMAND:
        if (LOWORD(wparam) == ID_FOLDER_CREATE) {
            create_folder(browser);
            return 0;
        }
        if (LOWORD(wparam) == ID_FOLDER_DELETE) {
            delete_folder(browser);
            return 0;
        }
        break;
    }
    return CallWindowProcA(g_chooser.browser_procedure, browser, message, wparam, lparam);
}

// Selects `folder` in the browser's tree. A browser that walks its tree by
// comparing item ids whole, last-access time included, can miss a folder
// whose access time its own reading of the path just moved (Wine's does);
// a second walk finds the times settled.
void select_folder(HWND browser, const std::string& folder) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(folder.c_str()));
        if (lstrcmpiA(g_chooser.current_folder.c_str(), folder.c_str()) == 0) return;
    }
}

int CALLBACK browse_callback(HWND browser, UINT message, LPARAM lparam, LPARAM start_folder) {
    switch (message) {
    case BFFM_INITIALIZED:
        g_chooser.browser_procedure = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(browser, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&browser_procedure)));
        if (start_folder) {
            place_at_cursor(browser);
            select_folder(browser, reinterpret_cast<const char*>(start_folder));
        } else {
            const RECT& r = g_chooser.reopen_rect;
            place_window(browser, r.left, r.top, r.right - r.left, r.bottom - r.top);
            select_folder(browser, g_chooser.reopen_folder);
        }
        break;
    case BFFM_SELCHANGED:
        g_chooser.current_folder = path_of(reinterpret_cast<LPCITEMIDLIST>(lparam));
        break;
    }
    return 0;
}

// The browser's tree talks to the shell's folders through COM.
class ComApartment {
public:
    ComApartment() : initialized_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComApartment() {
        if (initialized_) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool initialized_;
};

}  // namespace

int choose_folder(HWND owner, const std::string& title, const std::optional<std::string>& start_folder,
                  std::string& result, std::size_t buffer_size) {
    ComApartment com;
    g_chooser.owner = owner;
    g_chooser.current_folder.clear();

    char display_name[MAX_PATH] = {};
    BROWSEINFOA browse{};
    browse.hwndOwner = owner;
    browse.pidlRoot = nullptr;  // the desktop
    browse.pszDisplayName = display_name;
    browse.lpszTitle = title.c_str();
    browse.ulFlags = 0;
    browse.lpfn = &browse_callback;
    browse.lParam = start_folder ? reinterpret_cast<LPARAM>(start_folder->c_str()) : 0;

    LPITEMIDLIST item = SHBrowseForFolderA(&browse);
    g_chooser.browser_procedure = nullptr;
    if (!item) return kFolderNotChosen;
    const std::string path = path_of(item);
    CoTaskMemFree(item);
    if (path.size() < buffer_size) result = path;
    return kFolderChosen;
}

}  // namespace vellum
