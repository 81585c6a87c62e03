// vellum_probe: looks at a running vellum.exe from outside, as a user at the
// screen would, for the end-to-end tests. One command per run; results on
// stdout, exit code 0 on success, 1 when the thing asked for is not there.
//
//   message-box SECONDS [BUTTON]  wait for a message box captioned with the
//                                 program title; print its text as hex
//                                 (code page 932 bytes) and press BUTTON
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
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr char kTitle[] = "Vellum 1.31b";
constexpr char kKey[] = "Software\\Marlow\\Vellum";

void print_hex(const std::string& bytes) {
    for (unsigned char c : bytes) std::printf("%02x", c);
    std::printf("\n");
}

HWND find_message_box() {
    struct Search {
        HWND found = nullptr;
    } search;
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            char class_name[64] = {};
            char caption[64] = {};
            GetClassNameA(window, class_name, sizeof class_name);
            GetWindowTextA(window, caption, sizeof caption);
            if (std::strcmp(class_name, "#32770") == 0 && std::strcmp(caption, kTitle) == 0) {
                reinterpret_cast<Search*>(param)->found = window;
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

int message_box(int seconds, const char* button) {
    HWND box = nullptr;
    for (int waited = 0; waited < seconds * 10 && !(box = find_message_box()); ++waited) Sleep(100);
    if (!box) {
        std::printf("none\n");
        return 1;
    }
    Sleep(200);  // let the box finish laying out its text
    print_hex(message_text(box));
    int id = IDOK;
    if (std::strcmp(button, "yes") == 0) id = IDYES;
    if (std::strcmp(button, "no") == 0) id = IDNO;
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
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

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "message-box" && argc > 2) return message_box(std::atoi(argv[2]), argc > 3 ? argv[3] : "ok");
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
    std::fprintf(stderr, "usage: vellum_probe message-box|registry|delete-address|window|status|close|minimize|end-session\n");
    return 2;
}
