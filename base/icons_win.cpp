#include "base/icons_win.h"

#include <array>

#include "base/win_handles.h"
#include "resources/resource.h"

namespace vellum {
namespace {

constexpr std::array<int, 8> kIconIds = {IDI_OFFLINE,        IDI_ONLINE,      IDI_RECORDING,    IDI_RECORDING_BUSY,
                                         IDI_ONLINE_BUSY,    IDI_OFFLINE_BUSY, IDI_AUTOGET,     IDI_AUTOGET_RUNNING};

std::array<UniqueIcon, kIconIds.size()>& icons() {
    static std::array<UniqueIcon, kIconIds.size()> loaded;
    return loaded;
}

}  // namespace

void load_small_icons(HINSTANCE instance) {
    const int width = GetSystemMetrics(SM_CXSMICON);
    const int height = GetSystemMetrics(SM_CYSMICON);
    for (std::size_t i = 0; i < kIconIds.size(); ++i) {
        if (icons()[i]) continue;
        icons()[i].reset(static_cast<HICON>(
            LoadImageA(instance, MAKEINTRESOURCEA(kIconIds[i]), IMAGE_ICON, width, height, LR_DEFAULTCOLOR)));
    }
}

HICON small_icon(int id) {
    for (std::size_t i = 0; i < kIconIds.size(); ++i) {
        if (kIconIds[i] == id) return icons()[i].get();
    }
    return nullptr;
}

bool register_program_window_class(HINSTANCE instance, const char* class_name, WNDPROC procedure, int icon_id,
                                   int menu_id) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = procedure;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(icon_id));
    wc.hIconSm = small_icon(icon_id);
    wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszMenuName = MAKEINTRESOURCEA(menu_id);
    wc.lpszClassName = class_name;
    return RegisterClassExA(&wc) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

WindowParams program_window_params(const char* class_name, HINSTANCE instance, int width, int height) {
    return {.class_name = class_name,
            .style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
            .width = width,
            .height = height,
            .instance = instance};
}

}  // namespace vellum
