#include "shell/program_win.h"

#include "autoget/autoget_window.h"
#include "base/icons_win.h"
#include "shell/main_window.h"
#include "shell/settings.h"

namespace vellum {
namespace {

// The rest of the program as the auto-get window sees it: the main window,
// found anew on every call, and the settings.
class MainWindowHost : public AutoGetHost {
public:
    HWND main_window() const override { return vellum::main_window(); }
    bool program_closing() const override {
        MainWindow* main = this->main();
        return main && main->closing();
    }
    bool internet_on() const override { return settings().internet != 0; }
    std::optional<ProxyEndpoint> proxy_endpoint() const override {
        MainWindow* main = this->main();
        if (!main) return std::nullopt;
        return ProxyEndpoint{main->listen_address().address, main->listen_address().port};
    }
    ConnectionRegistry* connections() override {
        MainWindow* main = this->main();
        return main ? &main->connections() : nullptr;
    }

private:
    MainWindow* main() const {
        HWND window = vellum::main_window();
        return window ? MainWindow::of(window) : nullptr;
    }
};

MainWindowHost g_autoget_host;

}  // namespace

bool prepare_program(HINSTANCE instance) {
    load_small_icons(instance);
    return register_main_window_class(instance) && register_autoget_window_class(instance);
}

HWND create_program_windows(HINSTANCE instance, const std::string& command_line) {
    HWND main = create_main_window(instance, command_line);
    if (!main) return nullptr;
    if (!create_autoget_window(instance, settings(), g_autoget_host)) {
        // The close sequence runs with no thread alive and takes the main window down.
        SendMessageA(main, WM_CLOSE, 0, 0);
        return nullptr;
    }
    return main;
}

int run_program(HINSTANCE instance, const char* command_line, int show_command) {
    const std::string line = command_line ? command_line : "";
    if (!prepare_program(instance)) return 0;
    HWND main = create_program_windows(instance, line);
    if (!main) return 0;
    ShowWindow(main, show_command);
    UpdateWindow(main);

    // No accelerators and no dialog-message routing: every window handles its own keys.
    MSG msg{};
    BOOL got;
    while ((got = GetMessageA(&msg, nullptr, 0, 0)) != 0 && got != -1) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return got == 0 ? static_cast<int>(msg.wParam) : 0;
}

}  // namespace vellum
