#include "base/toolbar_win.h"

#include <commctrl.h>

#include <iterator>

#include "resources/resource.h"

namespace vellum {
namespace {

constexpr int kImageCount = 5;

TBBUTTON button(int image, int command) {
    TBBUTTON b{};
    b.iBitmap = image;
    b.idCommand = command;
    b.fsState = TBSTATE_ENABLED;
    b.fsStyle = command ? TBSTYLE_BUTTON : TBSTYLE_SEP;
    return b;
}

}  // namespace

HWND create_program_toolbar(HWND parent, HINSTANCE instance, UniqueBitmap& bitmap) {
    COLORMAP face{RGB(192, 192, 192), GetSysColor(COLOR_BTNFACE)};
    bitmap.reset(CreateMappedBitmap(instance, IDB_TOOLBAR, 0, &face, 1));
    if (!bitmap) return nullptr;
    TBBUTTON buttons[] = {
        button(0, 0), button(0, ID_MODE_INTERNET), button(1, ID_MODE_LOCALIZE), button(0, 0),
        button(2, ID_OPEN_AUTOGET), button(0, 0), button(3, ID_AUTOGET_START), button(4, ID_AUTOGET_STOP),
    };
    return CreateToolbarEx(parent, WS_CHILD | WS_VISIBLE | TBSTYLE_TOOLTIPS, IDC_TOOLBAR, kImageCount, nullptr,
                           reinterpret_cast<UINT_PTR>(bitmap.get()), buttons, 8, 16, 15, 16, 15, sizeof(TBBUTTON));
}

const char* toolbar_tooltip(UINT_PTR command) {
    switch (command) {
    case ID_MODE_INTERNET: return "インターネット接続";
    case ID_MODE_LOCALIZE: return "ページ保存";
    case ID_OPEN_AUTOGET: return "自動取得ウィンドウを開く";
    case ID_AUTOGET_START: return "スタート";
    case ID_AUTOGET_STOP: return "ストップ";
    }
    return nullptr;
}

bool answer_toolbar_tooltip(NMHDR* header) {
    if (header->code == TTN_GETDISPINFOA) {
        auto* info = reinterpret_cast<NMTTDISPINFOA*>(header);
        const char* text = toolbar_tooltip(header->idFrom);
        if (!text) return false;
        info->hinst = nullptr;
        info->lpszText = const_cast<char*>(text);
        return true;
    }
    if (header->code == TTN_GETDISPINFOW) {
        // Controls that speak Unicode to an ANSI parent: convert from code page 932.
        auto* info = reinterpret_cast<NMTTDISPINFOW*>(header);
        const char* text = toolbar_tooltip(header->idFrom);
        if (!text) return false;
        info->hinst = nullptr;
        MultiByteToWideChar(CP_ACP, 0, text, -1, info->szText, static_cast<int>(std::size(info->szText)));
        info->lpszText = info->szText;
        return true;
    }
    return false;
}

}  // namespace vellum
