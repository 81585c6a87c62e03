// The program's real windows inside a test process: a fixture that starts
// them with a command line, pumps the test thread's messages until a
// condition holds, answers every message box through a recording Prompter,
// and leaves the settings key as it found no key at all.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "base/prompt.h"
#include "shell/main_window.h"
#include "shell/program_win.h"
#include "shell/settings_win.h"

namespace vellum::testing {

// Records every message box and answers it as told.
class RecordingPrompter : public Prompter {
public:
    struct Shown {
        std::string text;
        std::string caption;
        UINT flags;
    };
    int show(HWND, const std::string& text, const std::string& caption, UINT flags) override {
        shown.push_back({text, caption, flags});
        if (on_show) on_show();
        if ((flags & MB_TYPEMASK) == MB_YESNO) return answer_yes ? IDYES : IDNO;
        return IDOK;
    }
    std::vector<Shown> shown;
    bool answer_yes = true;
    std::function<void()> on_show;  // runs while the "box" is up
};

inline void delete_settings_key() {
    RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKeyPath);
}

inline std::uint32_t registry_dword(const char* name, std::uint32_t missing = 0xFFFFFFFF) {
    RegKey key = open_key_for_reading(HKEY_CURRENT_USER, kSettingsKeyPath);
    return read_dword(key.get(), name, missing);
}

class ProgramSession : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(prepare_program(GetModuleHandleA(nullptr))); }

    void SetUp() override {
        delete_settings_key();
        previous_ = set_prompter(&prompter);
    }

    void TearDown() override {
        if (window && IsWindow(window)) {
            PostMessageA(window, WM_CLOSE, 0, 0);
            pump_until([this] { return !IsWindow(window); });
        }
        set_prompter(previous_);
        delete_settings_key();
    }

    // Starts the program's windows; the main window, or nullptr.
    HWND start(const std::string& command_line) {
        quit_seen = false;
        window = create_program_windows(GetModuleHandleA(nullptr), command_line);
        pump();
        return window;
    }

    MainWindow& main() { return *MainWindow::of(window); }

    // Dispatches every waiting message of the test thread.
    void pump() {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit_seen = true;
                continue;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }

    // Pumps until `done` holds; false when it still does not after a long
    // while (a guard against hanging, not a measure of time).
    bool pump_until(const std::function<bool()>& done, DWORD limit_ms = 20000) {
        const ULONGLONG start = GetTickCount64();
        for (;;) {
            pump();
            if (done()) return true;
            if (GetTickCount64() - start > limit_ms) return false;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
    }

    // Closes the program as the user would and waits for its end.
    bool close_program() {
        PostMessageA(window, WM_CLOSE, 0, 0);
        return pump_until([this] { return quit_seen && !IsWindow(window); });
    }

    std::string status_text(int part) {
        char text[1024] = {};
        SendMessageA(main().status_bar(), SB_GETTEXTA, part, reinterpret_cast<LPARAM>(text));
        return text;
    }

    bool shown(const std::string& text) const {
        for (const auto& box : prompter.shown) {
            if (box.text == text) return true;
        }
        return false;
    }

    RecordingPrompter prompter;
    HWND window = nullptr;
    bool quit_seen = false;

private:
    Prompter* previous_ = nullptr;
};

// A browser connection to the proxy on 127.0.0.1:port that sends nothing, so
// that its connection thread lives until the socket is closed.
inline UniqueSocket connect_to_proxy(int port) {
    UniqueSocket s(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    at.sin_port = htons(static_cast<u_short>(port));
    if (connect(s.get(), reinterpret_cast<sockaddr*>(&at), sizeof at) == SOCKET_ERROR) s.reset();
    return s;
}

// True when the peer has closed (or reset) the socket. Call it after the
// program's side has had its messages pumped: this thread is the UI thread.
inline bool peer_closed(SOCKET s) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval wait{5, 0};
    if (select(0, &readable, nullptr, nullptr, &wait) <= 0) return false;
    char byte;
    return recv(s, &byte, 1, 0) <= 0;
}

}  // namespace vellum::testing
