// credentials_probe: plays the user at the パスワード設定 dialog and the
// commands around the cookie jar of a running vellum.exe, for the end-to-end
// tests. Texts go in and come out as hex of code page 932 bytes ("-" for an
// empty text). Exit code 0 when every step could be done, 1 otherwise.
//
//   command CLASS ID         post the command ID to the top-level window of
//                            class CLASS (VELLUM, VELLUM_REC)
//   dialog STEP...           act on the dialog, one step after another:
//       open                 パスワード設定 from the auto-get window; waits
//                            for the dialog
//       host N, challenge N  select the N-th item of that list, as a click does
//       user HEX, password HEX
//                            type into that edit
//       remove, ok, cancel   press 削除, OK, キャンセル
//       show                 print "hosts=H,H challenges=C,C user=U
//                            password=P enabled=XXXX" (the challenge list,
//                            both edits and 削除, 1 enabled, 0 not)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int kHost = 1084, kChallenge = 1087, kUser = 1088, kPassword = 1091, kRemove = 1092;
constexpr int kPasswordsCommand = 40166;
constexpr char kDialogTitle[] = "パスワード設定";

std::string hex(const std::string& bytes) {
    if (bytes.empty()) return "-";
    std::string out;
    char pair[3];
    for (unsigned char c : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", c);
        out += pair;
    }
    return out;
}

std::string unhex(const std::string& text) {
    std::string out;
    if (text == "-") return out;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        out += static_cast<char>(std::strtol(text.substr(i, 2).c_str(), nullptr, 16));
    }
    return out;
}

LRESULT send(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(window, message, wparam, lparam, SMTO_NORMAL, 10000, &result);
    return static_cast<LRESULT>(result);
}

HWND wait_for_dialog() {
    for (int waited = 0; waited < 200; ++waited) {
        HWND dialog = FindWindowA("#32770", kDialogTitle);
        if (dialog && IsWindowVisible(dialog)) return dialog;
        Sleep(50);
    }
    return nullptr;
}

std::string items(HWND dialog, int combo) {
    HWND control = GetDlgItem(dialog, combo);
    const int count = static_cast<int>(send(control, CB_GETCOUNT, 0, 0));
    std::string out;
    for (int i = 0; i < count; ++i) {
        // Asked in UTF-16: Wine hands a list item's text to another process
        // whole only that way.
        wchar_t wide[1024] = {};
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(control, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(wide), SMTO_NORMAL, 10000, &ignored);
        char text[2048] = {};
        WideCharToMultiByte(932, 0, wide, -1, text, sizeof text, nullptr, nullptr);
        if (i) out += ",";
        out += hex(text);
    }
    return out.empty() ? "-" : out;
}

std::string text(HWND dialog, int id) {
    char value[1024] = {};
    send(GetDlgItem(dialog, id), WM_GETTEXT, sizeof value, reinterpret_cast<LPARAM>(value));
    return value;
}

char enabled(HWND dialog, int id) {
    return IsWindowEnabled(GetDlgItem(dialog, id)) ? '1' : '0';
}

void select(HWND dialog, int combo, int index) {
    HWND control = GetDlgItem(dialog, combo);
    send(control, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    send(dialog, WM_COMMAND, MAKEWPARAM(combo, CBN_SELCHANGE), reinterpret_cast<LPARAM>(control));
}

void press(HWND dialog, int button) {
    send(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
}

int run_dialog(int count, char** steps) {
    HWND dialog = FindWindowA("#32770", kDialogTitle);
    for (int i = 0; i < count; ++i) {
        const std::string step = steps[i];
        const bool has_argument = i + 1 < count;
        if (step == "open") {
            HWND autoget = FindWindowA("VELLUM_REC", nullptr);
            if (!autoget) return 1;
            PostMessageA(autoget, WM_COMMAND, kPasswordsCommand, 0);
            dialog = wait_for_dialog();
            continue;
        }
        if (!dialog) return 1;
        if (step == "host" && has_argument) {
            select(dialog, kHost, std::atoi(steps[++i]));
        } else if (step == "challenge" && has_argument) {
            select(dialog, kChallenge, std::atoi(steps[++i]));
        } else if (step == "user" && has_argument) {
            send(GetDlgItem(dialog, kUser), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(unhex(steps[++i]).c_str()));
        } else if (step == "password" && has_argument) {
            send(GetDlgItem(dialog, kPassword), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(unhex(steps[++i]).c_str()));
        } else if (step == "remove") {
            press(dialog, kRemove);
        } else if (step == "ok" || step == "cancel") {
            press(dialog, step == "ok" ? IDOK : IDCANCEL);
            for (int waited = 0; waited < 100 && IsWindow(dialog); ++waited) Sleep(50);
            if (IsWindow(dialog)) return 1;
            dialog = nullptr;
        } else if (step == "show") {
            std::printf("hosts=%s challenges=%s user=%s password=%s enabled=%c%c%c%c\n", items(dialog, kHost).c_str(),
                        items(dialog, kChallenge).c_str(), hex(text(dialog, kUser)).c_str(),
                        hex(text(dialog, kPassword)).c_str(), enabled(dialog, kChallenge), enabled(dialog, kUser),
                        enabled(dialog, kPassword), enabled(dialog, kRemove));
            std::fflush(stdout);
        } else {
            return 1;
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "command" && argc > 3) {
        HWND window = FindWindowA(argv[2], nullptr);
        return window && PostMessageA(window, WM_COMMAND, std::atoi(argv[3]), 0) ? 0 : 1;
    }
    if (command == "dialog") return run_dialog(argc - 2, argv + 2);
    std::fprintf(stderr, "usage: credentials_probe command CLASS ID | dialog STEP...\n");
    return 2;
}
