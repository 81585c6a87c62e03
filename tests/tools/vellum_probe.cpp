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
//                                 page tree), one item per line: depth,
//                                 state image, label as hex
//   autoget-start                 start an auto-get run as the user does:
//                                 スタート, then 今すぐスタート in the start
//                                 dialog
//   request-log INDEX             open the log of the INDEX-th item of the
//                                 tree (in the order "tree" prints) through
//                                 its context menu; print the log as hex
//   command ID                    post WM_COMMAND ID to the main window, as
//                                 its menu does (e.g. 40110 インターネット
//                                 接続, 40113 ページ保存)
//   counts                        print the program's live threads, handles
//                                 and memory as the system reports them:
//                                 "threads=N handles=N private=BYTES
//                                 working=BYTES"
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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

int autoget_start() {
    HWND autoget = FindWindowA("VELLUM_REC", nullptr);
    if (!autoget) return 1;
    PostMessageA(autoget, WM_COMMAND, 40124, 0);
    HWND dialog = nullptr;
    for (int waited = 0; waited < 100 && !(dialog = FindWindowA("#32770", "自動取得スタート")); ++waited) Sleep(50);
    if (!dialog) return 1;
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(3, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, 3)));
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
        HWND main = FindWindowA("VELLUM", nullptr);
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
        HWND owner = argc > 3 ? FindWindowA(argv[2], nullptr) : nullptr;
        return dump_tree(argc > 3 ? (owner ? GetDlgItem(owner, std::atoi(argv[3])) : nullptr) : request_tree_view());
    }
    if (command == "autoget-start") return autoget_start();
    if (command == "request-log" && argc > 2) return request_log(std::atoi(argv[2]));
    if (command == "command" && argc > 2) {
        HWND main = FindWindowA("VELLUM", nullptr);
        return main && PostMessageA(main, WM_COMMAND, std::atoi(argv[2]), 0) ? 0 : 1;
    }
    if (command == "counts") return counts();
    std::fprintf(stderr,
                 "usage: vellum_probe message-box|registry|delete-address|window|status|close|end-session|settings|"
                 "clear-settings|tree|request-log|minimize|autoget-start|command|counts\n");
    return 2;
}
