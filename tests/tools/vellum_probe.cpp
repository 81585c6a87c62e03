// vellum_probe: looks at a running vellum.exe from outside, as a user at the
// screen would, for the end-to-end tests. One command per run; results on
// stdout, exit code 0 on success, 1 when the thing asked for is not there.
//
//   message-box SECONDS [BUTTON [CAPTION]]
//                                 wait for a message box captioned with the
//                                 program title (or CAPTION: tessel.dll's and
//                                 the installer's boxes); print its text as
//                                 hex (code page 932 bytes) and press BUTTON
//                                 (ok, yes, no; default ok)
//   registry                      print "ServerAddress=<hex> ServerPort=<n>"
//                                 or "absent"
//   delete-address                remove ServerAddress and ServerPort
//   window SECONDS                wait for the main window; print "found"
//   status PART                   print the main window's status-bar part
//                                 as hex
//   close                         post WM_CLOSE to the main window
//   minimize                      minimize the main window, as its title
//                                 bar's button does
//   end-session                   send WM_QUERYENDSESSION to both windows,
//                                 as Windows does when the user logs off
//   settings NAME=d:N|s:TEXT ...  write settings values (DWORD or text)
//   clear-settings                delete the settings key with everything in it
//   tree [CLASS ID]               print the request tree (or the tree view ID
//                                 of the window of class CLASS, e.g.
//                                 VELLUM_REC 115 for the auto-get window's
//                                 page tree: every node, including those
//                                 in closed branches, which have no item),
//                                 one item per line: depth, state image,
//                                 label as hex
//   autoget-start                 start an auto-get run as the user does:
//                                 スタート, then 今すぐスタート in the start
//                                 dialog when one opens
//   autoget-stop                  ストップ in the auto-get window
//   autoget-state                 print "visible=0|1 start=0|1 stop=0|1"
//                                 (the toolbar's buttons enabled)
//   autoget-close                 post WM_CLOSE to the auto-get window
//   autoget-key INDEX KEY         select the INDEX-th item of the page tree
//                                 and press KEY there (a virtual-key number)
//   autoget-menu INDEX HOLD KEY   open the page tree's context menu on the
//                                 INDEX-th item from the keyboard, keep it
//                                 open HOLD milliseconds, then press KEY (a
//                                 mnemonic letter, or "esc"); print "opened"
//                                 or "none"
//   reserve-request INDEX HOW     reserve the INDEX-th request-tree item as
//                                 the user does: HOW is enter, dblclick or
//                                 menu (自動取得に予約 from its context menu)
//   window-rect CLASS             print the top-level window's screen
//                                 rectangle "left top right bottom"
//   request-log INDEX             open the log of the INDEX-th item of the
//                                 tree (in the order "tree" prints) through
//                                 its context menu; print the log as hex
//   command ID                    post WM_COMMAND ID to the main window, as
//                                 its menu does (e.g. 40110 インターネット
//                                 接続, 40113 ページ保存)
//   mode [offline|online|recording]
//                                 print the mode the main window's toolbar
//                                 shows; with a mode, switch to it first
//                                 through the same commands as the menu
//   dialog SECONDS TITLE          wait for a dialog with this title; print
//                                 its screen rectangle "left top right bottom"
//   press TITLE ID                click the button ID of that dialog (without
//                                 one, the command as Enter or Esc sends it)
//   window-of CLASS SECONDS       wait for a visible top-level window of the
//                                 class; print its rectangle, then its title
//                                 as hex
//   close-window CLASS            post WM_CLOSE to every window of the class (30 s each)
//   folder-menu SECONDS           right-click the selected folder of the open
//                                 folder browser as the mouse does; print the
//                                 browser's and the popup menu's rectangles
//                                 (8 numbers), or "none" without a menu
//   menu-item INDEX               choose the INDEX-th item of the open popup
//                                 menu with the keyboard
//   counts                        print the program's live threads, handles
//                                 and memory as the system reports them:
//                                 "threads=N handles=N private=BYTES
//                                 working=BYTES"
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "autoget/outline_request.h"

namespace {

constexpr char kTitle[] = "Vellum 1.31b";
constexpr char kKey[] = "Software\\Marlow\\Vellum";

void print_hex(const std::string& bytes) {
    for (unsigned char c : bytes) std::printf("%02x", c);
    std::printf("\n");
}

HWND find_message_box(const char* caption_wanted) {
    struct Search {
        const char* caption;
        HWND found = nullptr;
    } search{caption_wanted};
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            char class_name[64] = {};
            char caption[64] = {};
            GetClassNameA(window, class_name, sizeof class_name);
            GetWindowTextA(window, caption, sizeof caption);
            auto* s = reinterpret_cast<Search*>(param);
            if (std::strcmp(class_name, "#32770") == 0 && std::strcmp(caption, s->caption) == 0) {
                s->found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The message text: the longest static text in the box (the icon is a static
// without text).
std::string message_text(HWND box) {
    struct Search {
        std::string text;
    } search;
    EnumChildWindows(
        box,
        [](HWND child, LPARAM param) -> BOOL {
            char class_name[64] = {};
            GetClassNameA(child, class_name, sizeof class_name);
            if (lstrcmpiA(class_name, "Static") == 0) {
                char text[2048] = {};
                GetWindowTextA(child, text, sizeof text);
                auto* s = reinterpret_cast<Search*>(param);
                if (std::strlen(text) > s->text.size()) s->text = text;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.text;
}

int message_box(int seconds, const char* button, const char* caption) {
    HWND box = nullptr;
    for (int waited = 0; waited < seconds * 10 && !(box = find_message_box(caption)); ++waited) Sleep(100);
    if (!box) {
        std::printf("none\n");
        return 1;
    }
    Sleep(200);  // let the box finish laying out its text
    print_hex(message_text(box));
    int id = IDOK;
    if (std::strcmp(button, "yes") == 0) id = IDYES;
    if (std::strcmp(button, "no") == 0) id = IDNO;
    // A press can come before the box's own loop takes it; press until the
    // box is gone, so that the next probe never reads this box again.
    for (int tries = 0; tries < 100 && IsWindow(box); ++tries) {
        if (tries % 10 == 0)
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
        Sleep(50);
    }
    return 0;
}

int registry() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        std::printf("absent\n");
        return 0;
    }
    DWORD address = 0, port = 0, size = sizeof address;
    bool has_address = RegQueryValueExA(key, "ServerAddress", nullptr, nullptr,
                                        reinterpret_cast<BYTE*>(&address), &size) == ERROR_SUCCESS;
    size = sizeof port;
    bool has_port =
        RegQueryValueExA(key, "ServerPort", nullptr, nullptr, reinterpret_cast<BYTE*>(&port), &size) == ERROR_SUCCESS;
    RegCloseKey(key);
    if (!has_address && !has_port) {
        std::printf("absent\n");
    } else {
        std::printf("ServerAddress=%08lx ServerPort=%lu\n", address, port);
    }
    return 0;
}

int delete_address() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return 0;
    RegDeleteValueA(key, "ServerAddress");
    RegDeleteValueA(key, "ServerPort");
    RegCloseKey(key);
    return 0;
}

HWND wait_for(const char* class_name, int seconds) {
    HWND window = nullptr;
    for (int waited = 0; waited <= seconds * 10 && !(window = FindWindowA(class_name, nullptr)); ++waited) Sleep(100);
    return window;
}

// SB_GETTEXT writes into the caller's memory: give it a buffer inside the
// program's own process.
int status(int part) {
    HWND main = FindWindowA("VELLUM", nullptr);
    HWND bar = main ? GetDlgItem(main, 111) : nullptr;
    if (!bar) return 1;
    DWORD process_id = 0;
    GetWindowThreadProcessId(bar, &process_id);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, process_id);
    if (!process) return 1;
    void* remote = VirtualAllocEx(process, nullptr, 4096, MEM_COMMIT, PAGE_READWRITE);
    char text[4096] = {};
    if (remote) {
        SendMessageA(bar, SB_GETTEXTA, part, reinterpret_cast<LPARAM>(remote));
        ReadProcessMemory(process, remote, text, sizeof text - 1, nullptr);
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    }
    CloseHandle(process);
    print_hex(text);
    return remote ? 0 : 1;
}

int write_settings(int count, char** words) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return 1;
    }
    int result = 0;
    for (int i = 0; i < count; ++i) {
        std::string word = words[i];
        std::size_t equals = word.find('=');
        if (equals == std::string::npos || word.size() < equals + 3 || word[equals + 2] != ':') {
            result = 2;
            continue;
        }
        const std::string name = word.substr(0, equals);
        const std::string value = word.substr(equals + 3);
        if (word[equals + 1] == 'd') {
            DWORD number = std::strtoul(value.c_str(), nullptr, 10);
            RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
        } else {
            RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>(value.size()));
        }
    }
    RegCloseKey(key);
    return result;
}

// Memory inside the program's process, for messages that write to the
// caller's buffers.
class RemoteBuffer {
public:
    explicit RemoteBuffer(HWND window, std::size_t size) : size_(size) {
        DWORD process_id = 0;
        GetWindowThreadProcessId(window, &process_id);
        process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, process_id);
        if (process_) memory_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
    }
    ~RemoteBuffer() {
        if (memory_) VirtualFreeEx(process_, memory_, 0, MEM_RELEASE);
        if (process_) CloseHandle(process_);
    }
    char* address() const { return static_cast<char*>(memory_); }
    bool write(std::size_t offset, const void* bytes, std::size_t size) {
        return memory_ && WriteProcessMemory(process_, address() + offset, bytes, size, nullptr);
    }
    bool read(std::size_t offset, void* bytes, std::size_t size) {
        return memory_ && ReadProcessMemory(process_, address() + offset, bytes, size, nullptr);
    }

private:
    HANDLE process_ = nullptr;
    void* memory_ = nullptr;
    std::size_t size_;
};

HWND request_tree_view() {
    HWND main = FindWindowA("VELLUM", nullptr);
    return main ? GetDlgItem(main, 113) : nullptr;
}

// Every item in display order with its depth.
void collect_items(HWND tree, HTREEITEM item, int depth, std::vector<std::pair<HTREEITEM, int>>& items) {
    for (; item; item = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item)))) {
        items.emplace_back(item, depth);
        HTREEITEM child = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(item)));
        collect_items(tree, child, depth + 1, items);
    }
}

std::vector<std::pair<HTREEITEM, int>> tree_items(HWND tree) {
    std::vector<std::pair<HTREEITEM, int>> items;
    HTREEITEM root = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
    collect_items(tree, root, 0, items);
    return items;
}

int dump_tree(HWND tree) {
    if (!tree) return 1;
    RemoteBuffer remote(tree, sizeof(TVITEMA) + 2048);
    if (!remote.address()) return 1;
    for (auto [item, depth] : tree_items(tree)) {
        TVITEMA query{};
        query.mask = TVIF_TEXT | TVIF_STATE | TVIF_HANDLE;
        query.hItem = item;
        query.stateMask = TVIS_STATEIMAGEMASK;
        query.pszText = remote.address() + sizeof(TVITEMA);
        query.cchTextMax = 2048;
        remote.write(0, &query, sizeof query);
        SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(remote.address()));
        TVITEMA answer{};
        char text[2049] = {};
        remote.read(0, &answer, sizeof answer);
        remote.read(sizeof(TVITEMA), text, 2048);
        std::printf("%d %u ", depth, (answer.state & TVIS_STATEIMAGEMASK) >> 12);
        print_hex(text);
    }
    return 0;
}

HWND find_window_of_class(const char* class_name, HWND except = nullptr) {
    struct Search {
        const char* class_name;
        HWND except;
        HWND found = nullptr;
    } search{class_name, except};
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<Search*>(param);
            char name[64] = {};
            GetClassNameA(window, name, sizeof name);
            if (window != s->except && std::strcmp(name, s->class_name) == 0 && IsWindowVisible(window)) {
                s->found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND autoget_tree_view() {
    HWND autoget = FindWindowA("VELLUM_REC", nullptr);
    return autoget ? GetDlgItem(autoget, 115) : nullptr;
}

// The page tree's control holds items only where a user can reach them; the
// auto-get window answers for the whole tree (autoget/outline_request.h).
std::string g_outline;
bool g_outline_received = false;

LRESULT CALLBACK outline_receiver(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_COPYDATA) {
        const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
        if (data->dwData == vellum::kOutlineReply) {
            g_outline.assign(static_cast<const char*>(data->lpData), data->cbData);
            g_outline_received = true;
        }
        return TRUE;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

// The outline's lines: depth, state image, label.
struct OutlineLine {
    int depth = 0;
    unsigned image = 0;
    std::string label;
};

bool page_tree_outline(std::vector<OutlineLine>& lines) {
    HWND autoget = FindWindowA("VELLUM_REC", nullptr);
    if (!autoget) return false;
    WNDCLASSA receiver_class{};
    receiver_class.lpfnWndProc = &outline_receiver;
    receiver_class.hInstance = GetModuleHandleA(nullptr);
    receiver_class.lpszClassName = "VellumProbeOutline";
    RegisterClassA(&receiver_class);
    HWND receiver = CreateWindowExA(0, "VellumProbeOutline", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    receiver_class.hInstance, nullptr);
    if (!receiver) return false;
    std::uint64_t asker = reinterpret_cast<std::uintptr_t>(receiver);
    COPYDATASTRUCT request{vellum::kOutlineRequest, sizeof asker, &asker};
    // The answer comes to the receiver while this send waits. A program busy
    // closing a dialog has been seen to let one request go unanswered:
    // asked again, it answers.
    bool answered = false;
    for (int attempt = 0; attempt < 20 && !answered; ++attempt) {
        if (attempt > 0) Sleep(100);
        g_outline.clear();
        g_outline_received = false;
        answered = SendMessageA(autoget, WM_COPYDATA, reinterpret_cast<WPARAM>(receiver),
                                reinterpret_cast<LPARAM>(&request)) != 0 &&
                   g_outline_received;
    }
    DestroyWindow(receiver);
    if (!answered) return false;
    std::size_t at = 0;
    while (at < g_outline.size()) {
        std::size_t end = g_outline.find('\n', at);
        if (end == std::string::npos) end = g_outline.size();
        const std::string line = g_outline.substr(at, end - at);
        at = end + 1;
        const std::size_t first = line.find(' ');
        const std::size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
        if (second == std::string::npos) continue;
        lines.push_back({std::atoi(line.substr(0, first).c_str()),
                         static_cast<unsigned>(std::atoi(line.substr(first + 1, second - first - 1).c_str())),
                         line.substr(second + 1)});
    }
    return true;
}

int dump_page_tree() {
    std::vector<OutlineLine> lines;
    if (!page_tree_outline(lines)) return 1;
    for (const OutlineLine& line : lines) {
        std::printf("%d %u ", line.depth, line.image);
        print_hex(line.label);
    }
    return 0;
}

// Selects the INDEX-th node (in the order "tree" prints) of the page tree.
bool select_page_node(int index) {
    HWND autoget = FindWindowA("VELLUM_REC", nullptr);
    if (!autoget) return false;
    std::int32_t wanted = index;
    COPYDATASTRUCT request{vellum::kSelectRequest, sizeof wanted, &wanted};
    return SendMessageA(autoget, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&request)) != 0;
}

// Selects the INDEX-th item (in the order "tree" prints) of a tree view.
HTREEITEM select_tree_item(HWND tree, int index) {
    auto items = tree_items(tree);
    if (index < 0 || index >= static_cast<int>(items.size())) return nullptr;
    SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(items[index].first));
    return items[index].first;
}

// Menus can't be read from another process here; the toolbar's buttons
// follow the same items.
bool button_enabled(HWND window, UINT id) {
    return SendMessageA(GetDlgItem(window, 110), TB_ISBUTTONENABLED, id, 0) != 0;
}

int autoget_start() {
    HWND autoget = FindWindowA("VELLUM_REC", nullptr);
    if (!autoget) return 1;
    PostMessageA(autoget, WM_COMMAND, 40124, 0);
    // The start dialog, when the program has one, or the run under way (or
    // already over, its message shown).
    for (int waited = 0; waited < 100; ++waited) {
        if (HWND dialog = FindWindowA("#32770", "自動取得スタート")) {
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(3, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, 3)));
            return 0;
        }
        if (!button_enabled(autoget, 40124) || find_message_box(kTitle)) return 0;
        Sleep(50);
    }
    return 0;
}

int autoget_state() {
    HWND autoget = FindWindowA("VELLUM_REC", nullptr);
    if (!autoget) return 1;
    std::printf("visible=%d start=%d stop=%d\n", IsWindowVisible(autoget) ? 1 : 0,
                button_enabled(autoget, 40124) ? 1 : 0, button_enabled(autoget, 40090) ? 1 : 0);
    return 0;
}

int autoget_key(int index, int key) {
    HWND tree = autoget_tree_view();
    if (!tree || !select_page_node(index)) return 1;
    PostMessageA(tree, WM_KEYDOWN, static_cast<WPARAM>(key), 0);
    PostMessageA(tree, WM_KEYUP, static_cast<WPARAM>(key), 0);
    return 0;
}

// Waits for a popup menu of the program; nullptr when none shows in time.
HWND wait_for_menu(int tenths) {
    HWND menu = nullptr;
    for (int waited = 0; waited < tenths * 2 && !(menu = find_window_of_class("#32768")); ++waited) Sleep(50);
    return menu;
}

void press_in_menu(HWND owner, const std::string& key) {
    if (key == "esc") {
        PostMessageA(owner, WM_KEYDOWN, VK_ESCAPE, 0);
        return;
    }
    const char letter = key.empty() ? 0 : key[0];
    PostMessageA(owner, WM_CHAR, static_cast<WPARAM>(std::tolower(static_cast<unsigned char>(letter))), 0);
}

int autoget_menu(int index, int hold_ms, const std::string& key) {
    HWND autoget = FindWindowA("VELLUM_REC", nullptr);
    HWND tree = autoget_tree_view();
    if (!tree || !select_page_node(index)) return 1;
    PostMessageA(autoget, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(tree), static_cast<LPARAM>(-1));
    HWND menu = wait_for_menu(10);
    if (!menu) {
        std::printf("none\n");
        return 0;
    }
    std::printf("opened\n");
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(hold_ms));
    press_in_menu(autoget, key);
    return 0;
}

int reserve_request(int index, const std::string& how) {
    HWND main = FindWindowA("VELLUM", nullptr);
    HWND tree = request_tree_view();
    if (!tree) return 1;
    HTREEITEM item = select_tree_item(tree, index);
    if (!item) return 1;
    if (how == "enter") {
        PostMessageA(tree, WM_KEYDOWN, VK_RETURN, 0);
        PostMessageA(tree, WM_KEYUP, VK_RETURN, 0);
        return 0;
    }
    if (how == "dblclick") {
        // The middle of the item's label, in the tree's client coordinates.
        RemoteBuffer remote(tree, sizeof(RECT));
        if (!remote.address() || !remote.write(0, &item, sizeof item)) return 1;
        if (!SendMessageA(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(remote.address()))) return 1;
        RECT label{};
        remote.read(0, &label, sizeof label);
        const LPARAM at = MAKELPARAM((label.left + label.right) / 2, (label.top + label.bottom) / 2);
        PostMessageA(tree, WM_LBUTTONDOWN, MK_LBUTTON, at);
        PostMessageA(tree, WM_LBUTTONUP, 0, at);
        PostMessageA(tree, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
        PostMessageA(tree, WM_LBUTTONUP, 0, at);
        return 0;
    }
    if (how == "menu") {
        PostMessageA(main, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(tree), static_cast<LPARAM>(-1));
        HWND menu = wait_for_menu(10);
        if (!menu) return 1;
        press_in_menu(main, "a");
        return 0;
    }
    return 2;
}

int window_rect(const char* class_name) {
    HWND window = FindWindowA(class_name, nullptr);
    if (!window) return 1;
    RECT rect{};
    GetWindowRect(window, &rect);
    std::printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right, rect.bottom);
    return 0;
}

int request_log(int index) {
    HWND main = FindWindowA("VELLUM", nullptr);
    HWND tree = request_tree_view();
    if (!tree) return 1;
    auto items = tree_items(tree);
    if (index < 0 || index >= static_cast<int>(items.size())) return 1;
    SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(items[index].first));
    // The context menu from the keyboard, as Shift+F10 gives it.
    PostMessageA(main, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(tree), static_cast<LPARAM>(-1));
    HWND menu = nullptr;
    for (int waited = 0; waited < 100 && !(menu = find_window_of_class("#32768")); ++waited) Sleep(50);
    if (!menu) return 1;
    PostMessageA(menu, WM_KEYDOWN, 'L', 0);
    PostMessageA(menu, WM_CHAR, 'l', 0);
    HWND log = nullptr;
    for (int waited = 0; waited < 100; ++waited) {
        log = find_window_of_class("#32770");
        if (log && GetDlgItem(log, 1022)) break;
        log = nullptr;
        Sleep(50);
    }
    if (!log) return 1;
    Sleep(200);
    HWND edit = GetDlgItem(log, 1022);
    int length = static_cast<int>(SendMessageA(edit, WM_GETTEXTLENGTH, 0, 0));
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    SendMessageA(edit, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(length));
    print_hex(text);
    PostMessageA(log, WM_COMMAND, IDCANCEL, 0);
    return 0;
}

void print_rect(HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    std::printf("%ld %ld %ld %ld", r.left, r.top, r.right, r.bottom);
}

HWND wait_dialog(const char* title, int seconds) {
    HWND dialog = nullptr;
    for (int waited = 0; waited <= seconds * 10; ++waited) {
        dialog = FindWindowA("#32770", title);
        if (dialog && IsWindowVisible(dialog)) return dialog;
        Sleep(100);
    }
    return nullptr;
}

// The folder browser: a visible dialog with a tree view.
HWND folder_browser() {
    struct Search {
        HWND found = nullptr;
    } search;
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            char name[64] = {};
            GetClassNameA(window, name, sizeof name);
            if (std::strcmp(name, "#32770") == 0 && IsWindowVisible(window) &&
                FindWindowExA(window, nullptr, "SysTreeView32", nullptr)) {
                reinterpret_cast<Search*>(param)->found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The mouse pointer moved to a screen point, once the display has settled on it.
void move_pointer(POINT to) {
    for (int settled = 0, tries = 0; settled < 3 && tries < 100; ++tries) {
        POINT now{};
        GetCursorPos(&now);
        if (now.x == to.x && now.y == to.y) {
            ++settled;
        } else {
            settled = 0;
            SetCursorPos(to.x, to.y);
        }
        Sleep(30);
    }
}

int folder_menu(int seconds) {
    HWND browser = nullptr;
    for (int waited = 0; waited <= seconds * 10 && !(browser = folder_browser()); ++waited) Sleep(100);
    if (!browser) {
        std::printf("none\n");
        return 1;
    }
    Sleep(300);  // let it select and paint its start folder
    HWND tree = FindWindowExA(browser, nullptr, "SysTreeView32", nullptr);
    HTREEITEM item = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    // TVM_GETITEMRECT reads the item from the caller's rectangle and writes
    // the rectangle back: it needs memory in the program's process.
    RemoteBuffer remote(tree, sizeof(RECT));
    RECT rect{};
    std::memcpy(&rect, &item, sizeof item);
    remote.write(0, &rect, sizeof rect);
    SendMessageA(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(remote.address()));
    remote.read(0, &rect, sizeof rect);
    POINT at{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    POINT screen = at;
    ClientToScreen(tree, &screen);
    move_pointer(screen);
    PostMessageA(tree, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(at.x, at.y));
    PostMessageA(tree, WM_RBUTTONUP, 0, MAKELPARAM(at.x, at.y));
    HWND menu = nullptr;
    for (int waited = 0; waited < 50 && !(menu = find_window_of_class("#32768")); ++waited) Sleep(100);
    if (!menu) {
        std::printf("none\n");
        return 1;
    }
    Sleep(300);
    print_rect(browser);
    std::printf(" ");
    print_rect(menu);
    std::printf("\n");
    return 0;
}

// The menu loop of the program's thread reads the keys of that thread.
int menu_keys(int index) {
    HWND menu = find_window_of_class("#32768");
    HWND browser = folder_browser();
    if (!menu || !browser) return 1;
    for (int i = 0; i <= index; ++i) PostMessageA(browser, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageA(browser, WM_CHAR, '\r', 0);
    return 0;
}

// The system's table of every open handle, entry by entry.
struct HandleEntry {
    ULONG owner;
    BYTE type;
    BYTE flags;
    USHORT value;
    PVOID object;
    ULONG access;
};
struct HandleTable {
    ULONG count;
    HandleEntry entries[1];
};

int counts() {
    HWND main = FindWindowA("VELLUM", nullptr);
    DWORD pid = 0;
    if (!main || !GetWindowThreadProcessId(main, &pid)) return 1;

    int threads = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 1;
    THREADENTRY32 thread{};
    thread.dwSize = sizeof thread;
    for (BOOL more = Thread32First(snapshot, &thread); more; more = Thread32Next(snapshot, &thread)) {
        if (thread.th32OwnerProcessID == pid) ++threads;
    }
    CloseHandle(snapshot);

    // GetProcessHandleCount answers 0 under Wine; the system handle table
    // has every handle with its owner.
    using QuerySystem = NTSTATUS(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
    using QueryProcess = NTSTATUS(NTAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    auto query_system = reinterpret_cast<QuerySystem>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQuerySystemInformation")));
    auto query_process = reinterpret_cast<QueryProcess>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryInformationProcess")));
    if (!query_system || !query_process) return 1;
    constexpr ULONG kSystemHandleInformation = 16;
    constexpr ULONG kProcessVmCounters = 3;
    std::vector<char> table(1 << 20);
    ULONG length = 0;
    NTSTATUS status;
    while ((status = query_system(kSystemHandleInformation, table.data(), static_cast<ULONG>(table.size()), &length)) ==
           static_cast<NTSTATUS>(0xC0000004L)) {
        table.resize(table.size() * 2);
    }
    if (status != 0) return 1;
    const auto* handles = reinterpret_cast<const HandleTable*>(table.data());
    int owned = 0;
    for (ULONG i = 0; i < handles->count; ++i) {
        if (handles->entries[i].owner == pid) ++owned;
    }

    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
    if (!process) return 1;
    VM_COUNTERS memory{};
    status = query_process(process, kProcessVmCounters, &memory, sizeof memory, &length);
    CloseHandle(process);
    if (status != 0) return 1;
    std::printf("threads=%d handles=%d private=%llu working=%llu\n", threads, owned,
                static_cast<unsigned long long>(memory.PagefileUsage),
                static_cast<unsigned long long>(memory.WorkingSetSize));
    return 0;
}

// The mode as the toolbar's two buttons show it. A toolbar answers these
// questions from any process; a menu's check marks can't be read from outside
// under Wine.
constexpr UINT kInternetCommand = 40110;  // インターネット接続
constexpr UINT kLocalizeCommand = 40113;  // ページ保存

const char* toolbar_mode(HWND toolbar) {
    const bool internet = SendMessageA(toolbar, TB_ISBUTTONPRESSED, kInternetCommand, 0) != 0;
    const bool localize = SendMessageA(toolbar, TB_ISBUTTONPRESSED, kLocalizeCommand, 0) != 0;
    return localize ? "recording" : internet ? "online" : "offline";
}

int mode(const char* wanted) {
    HWND main = FindWindowA("VELLUM", nullptr);
    HWND toolbar = main ? FindWindowExA(main, nullptr, TOOLBARCLASSNAMEA, nullptr) : nullptr;
    if (!toolbar) return 1;
    if (wanted) {
        const std::string to = wanted;
        if (to != "offline" && to != "online" && to != "recording") return 2;
        // The commands toggle: インターネット接続 turns recording off with
        // the connection, ページ保存 turns the connection on with recording.
        for (int step = 0; step < 3 && to != toolbar_mode(toolbar); ++step) {
            const std::string now = toolbar_mode(toolbar);
            const UINT command = (to == "recording" || now == "recording") && !(to == "offline" && now == "recording")
                                     ? kLocalizeCommand
                                     : kInternetCommand;
            if (!PostMessageA(main, WM_COMMAND, command, 0)) return 1;
            // The window takes it in turn with whatever it is doing.
            for (int waited = 0; waited < 100 && now == toolbar_mode(toolbar); ++waited) Sleep(50);
        }
    }
    std::printf("%s\n", toolbar_mode(toolbar));
    return !wanted || std::string(wanted) == toolbar_mode(toolbar) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "message-box" && argc > 2)
        return message_box(std::atoi(argv[2]), argc > 3 ? argv[3] : "ok", argc > 4 ? argv[4] : kTitle);
    if (command == "registry") return registry();
    if (command == "delete-address") return delete_address();
    if (command == "window" && argc > 2) {
        if (!wait_for("VELLUM", std::atoi(argv[2]))) return 1;
        std::printf("found\n");
        return 0;
    }
    if (command == "status" && argc > 2) return status(std::atoi(argv[2]));
    if (command == "close") {
        HWND main = FindWindowA("VELLUM", nullptr);
        return main && PostMessageA(main, WM_CLOSE, 0, 0) ? 0 : 1;
    }
    if (command == "minimize") {
        // The main window, or the top-level window of the class named.
        HWND main = FindWindowA(argc > 2 ? argv[2] : "VELLUM", nullptr);
        if (!main) return 1;
        ShowWindow(main, SW_MINIMIZE);
        return IsIconic(main) ? 0 : 1;
    }
    if (command == "end-session") {
        HWND main = FindWindowA("VELLUM", nullptr);
        if (!main) return 1;
        DWORD_PTR answer = 0;
        if (HWND autoget = FindWindowA("VELLUM_REC", nullptr)) {
            SendMessageTimeoutA(autoget, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer);
        }
        SendMessageTimeoutA(main, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer);
        return 0;
    }
    if (command == "settings") return write_settings(argc - 2, argv + 2);
    if (command == "clear-settings") {
        RegDeleteTreeA(HKEY_CURRENT_USER, kKey);
        return 0;
    }
    if (command == "tree") {
        if (argc > 3 && std::strcmp(argv[2], "VELLUM_REC") == 0 && std::atoi(argv[3]) == 115) return dump_page_tree();
        HWND owner = argc > 3 ? FindWindowA(argv[2], nullptr) : nullptr;
        return dump_tree(argc > 3 ? (owner ? GetDlgItem(owner, std::atoi(argv[3])) : nullptr) : request_tree_view());
    }
    if (command == "autoget-start") return autoget_start();
    if (command == "autoget-stop") {
        HWND autoget = FindWindowA("VELLUM_REC", nullptr);
        return autoget && PostMessageA(autoget, WM_COMMAND, 40090, 0) ? 0 : 1;
    }
    if (command == "autoget-close") {
        HWND autoget = FindWindowA("VELLUM_REC", nullptr);
        return autoget && PostMessageA(autoget, WM_CLOSE, 0, 0) ? 0 : 1;
    }
    if (command == "autoget-state") return autoget_state();
    if (command == "autoget-key" && argc > 3) return autoget_key(std::atoi(argv[2]), std::atoi(argv[3]));
    if (command == "autoget-menu" && argc > 4) return autoget_menu(std::atoi(argv[2]), std::atoi(argv[3]), argv[4]);
    if (command == "reserve-request" && argc > 3) return reserve_request(std::atoi(argv[2]), argv[3]);
    if (command == "window-rect" && argc > 2) return window_rect(argv[2]);
    if (command == "request-log" && argc > 2) return request_log(std::atoi(argv[2]));
    if (command == "command" && argc > 2) {
        HWND main = FindWindowA("VELLUM", nullptr);
        return main && PostMessageA(main, WM_COMMAND, std::atoi(argv[2]), 0) ? 0 : 1;
    }
    if (command == "dialog" && argc > 3) {
        HWND dialog = wait_dialog(argv[3], std::atoi(argv[2]));
        if (!dialog) {
            std::printf("none\n");
            return 1;
        }
        Sleep(300);  // let it paint
        print_rect(dialog);
        std::printf("\n");
        return 0;
    }
    if (command == "press" && argc > 3) {
        HWND dialog = wait_dialog(argv[2], 0);
        if (!dialog) return 1;
        const int id = std::atoi(argv[3]);
        // Without such a button, as Enter (1) or Esc (2) reach a dialog.
        if (HWND button = GetDlgItem(dialog, id)) return PostMessageA(button, BM_CLICK, 0, 0) ? 0 : 1;
        return PostMessageA(dialog, WM_COMMAND, id, 0) ? 0 : 1;
    }
    if (command == "window-of" && argc > 3) {
        HWND window = nullptr;
        for (int waited = 0; waited <= std::atoi(argv[3]) * 10 && !(window = find_window_of_class(argv[2])); ++waited) {
            Sleep(100);
        }
        if (!window) {
            std::printf("none\n");
            return 1;
        }
        char title[512] = {};
        GetWindowTextA(window, title, sizeof title);
        print_rect(window);
        std::printf(" ");
        print_hex(title);
        return 0;
    }
    if (command == "close-window" && argc > 2) {
        while (HWND window = find_window_of_class(argv[2])) {
            PostMessageA(window, WM_CLOSE, 0, 0);
            // A help window still loading its page under a busy machine answers late; give it time.
            for (int waited = 0; waited < 300 && IsWindow(window) && IsWindowVisible(window); ++waited) Sleep(100);
            if (IsWindow(window) && IsWindowVisible(window)) return 1;
        }
        return 0;
    }
    if (command == "counts") return counts();
    if (command == "mode") return mode(argc > 2 ? argv[2] : nullptr);
    if (command == "folder-menu" && argc > 2) return folder_menu(std::atoi(argv[2]));
    if (command == "menu-item" && argc > 2) return menu_keys(std::atoi(argv[2]));
    std::fprintf(stderr,
                 "usage: vellum_probe message-box|registry|delete-address|window|status|close|end-session|settings|"
                 "clear-settings|tree|request-log|minimize|autoget-start|autoget-stop|autoget-state|autoget-close|"
                 "autoget-key|autoget-menu|reserve-request|window-rect|command|dialog|press|window-of|close-window|"
                 "folder-menu|menu-item|counts|mode\n");
    return 2;
}
