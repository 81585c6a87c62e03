#include "base/tree_font_win.h"

#include <commctrl.h>

#include "base/win_handles.h"

namespace vellum {

namespace {

UniqueFont make_dialog_font(int height) {
    return UniqueFont(CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET,
                                  OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, VARIABLE_PITCH | FF_SWISS,
                                  "ＭＳ Ｐゴシック"));
}

// Whether the font puts any ink on the page for "_". Some stand-ins for the
// face (bitmap strikes of free Japanese fonts, which Wine substitutes) have
// no underscore at a few pixel sizes, and URLs are full of them.
bool draws_underscore(HFONT font) {
    constexpr int kWidth = 48, kHeight = 48;
    HDC screen = GetDC(nullptr);
    if (!screen) return true;
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, kWidth, kHeight);
    ReleaseDC(nullptr, screen);
    bool ink = true;  // when it can't be measured, trust the font
    if (dc && bitmap) {
        HGDIOBJ old_bitmap = SelectObject(dc, bitmap);
        HGDIOBJ old_font = SelectObject(dc, font);
        RECT all{0, 0, kWidth, kHeight};
        FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        SetTextColor(dc, RGB(0, 0, 0));
        SetBkMode(dc, TRANSPARENT);
        TextOutA(dc, 4, 4, "__", 2);
        ink = false;
        for (int y = 0; y < kHeight && !ink; ++y) {
            for (int x = 0; x < kWidth && !ink; ++x) ink = GetPixel(dc, x, y) != RGB(255, 255, 255);
        }
        SelectObject(dc, old_font);
        SelectObject(dc, old_bitmap);
    }
    if (bitmap) DeleteObject(bitmap);
    if (dc) DeleteDC(dc);
    return ink;
}

}  // namespace

HFONT dialog_font() {
    static const UniqueFont font = [] {
        HDC screen = GetDC(nullptr);
        const int pixels_per_inch = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
        if (screen) ReleaseDC(nullptr, screen);
        const int nine_points = -MulDiv(9, pixels_per_inch, 72);
        // Nine points, or the nearest larger size whose underscore shows.
        for (int grow = 0; grow <= 2; ++grow) {
            UniqueFont candidate = make_dialog_font(nine_points - grow);
            if (candidate && draws_underscore(candidate.get())) return candidate;
        }
        return make_dialog_font(nine_points);
    }();
    return font.get();
}

int tree_row_height(int cell_height) {
    int height = cell_height + 2;
    if (height < 16) height = 16;
    return height + (height & 1);
}

void use_dialog_font(HWND tree) {
    HFONT font = dialog_font();
    if (!tree || !font) return;
    SendMessageA(tree, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    TEXTMETRICA metrics{};
    HDC dc = GetDC(tree);
    if (!dc) return;
    HGDIOBJ previous = SelectObject(dc, font);
    const bool measured = GetTextMetricsA(dc, &metrics) != FALSE;
    SelectObject(dc, previous);
    ReleaseDC(tree, dc);
    if (measured) SendMessageA(tree, TVM_SETITEMHEIGHT, tree_row_height(metrics.tmHeight), 0);
}

}  // namespace vellum
