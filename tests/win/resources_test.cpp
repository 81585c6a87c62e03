// The resources linked into the program: every menu item's text, id and
// place, the icons at the sizes the windows ask for, the bitmaps' geometry and
// key colours as the image lists and the toolbar use them, and the log dialog
// template. The test executable carries the same resource object as vellum.exe.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/win_handles.h"
#include "resources/resource.h"

namespace {

using vellum::UniqueIcon;
using vellum::UniqueImageList;
using vellum::UniqueMenu;
using vellum::UniqueWindow;

HINSTANCE module() { return GetModuleHandleA(nullptr); }

// ---- Menus -----------------------------------------------------------------

// One expected menu entry: a command (text and id), a separator (no text), or
// a submenu (text and entries).
struct Entry {
    const char* text;
    UINT id = 0;
    std::vector<Entry> entries = {};
    bool grayed = false;
};
const Entry separator{nullptr};

Entry popup(const char* text, std::vector<Entry> entries) { return {text, 0, std::move(entries)}; }

std::string menu_text(HMENU menu, UINT position) {
    char buffer[256] = {};
    int length = GetMenuStringA(menu, position, buffer, sizeof buffer, MF_BYPOSITION);
    return std::string(buffer, length > 0 ? length : 0);
}

void expect_menu(HMENU menu, const std::vector<Entry>& expected, const std::string& where) {
    ASSERT_EQ(GetMenuItemCount(menu), static_cast<int>(expected.size())) << where;
    for (UINT i = 0; i < expected.size(); ++i) {
        const Entry& want = expected[i];
        std::string here = where + " / " + std::to_string(i) + " " + (want.text ? want.text : "-");
        MENUITEMINFOA info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_SUBMENU | MIIM_STATE;
        ASSERT_TRUE(GetMenuItemInfoA(menu, i, TRUE, &info)) << here;
        if (!want.text) {
            EXPECT_TRUE(info.fType & MFT_SEPARATOR) << here;
            continue;
        }
        EXPECT_FALSE(info.fType & MFT_SEPARATOR) << here;
        EXPECT_EQ(menu_text(menu, i), want.text) << here;
        EXPECT_EQ((info.fState & MFS_GRAYED) != 0, want.grayed) << here;
        EXPECT_FALSE(info.fState & MFS_CHECKED) << here;
        if (want.entries.empty()) {
            EXPECT_EQ(info.hSubMenu, nullptr) << here;
            EXPECT_EQ(info.wID, want.id) << here;
        } else {
            ASSERT_NE(info.hSubMenu, nullptr) << here;
            expect_menu(info.hSubMenu, want.entries, here);
        }
    }
}

UniqueMenu load_menu(int id) { return UniqueMenu(LoadMenuA(module(), MAKEINTRESOURCEA(id))); }

// The settings submenu is the same in the menu bar and the tray menu except
// for the text of the save-folder placeholder.
std::vector<Entry> settings_entries(const char* folder_placeholder) {
    return {
        {"インターネット接続", ID_MODE_INTERNET},
        {"ページ保存", ID_MODE_LOCALIZE},
        separator,
        popup("保存フォルダ", {{folder_placeholder, ID_SAVE_FOLDER}}),
        separator,
        {"ダイアルアップ接続サポート", ID_DIALUP_SETTINGS},
        {"自動取得ウィンドウを開く", ID_OPEN_AUTOGET},
        {"クッキーを捨てる", ID_DISCARD_COOKIES},
        {"HTTPプロキシサーバーの設定", ID_PROXY_SETTINGS},
        separator,
        {"自動取得状況表示", ID_SHOW_AUTOGET_REQUESTS},
        {"ログ詳細表示", ID_LOG_DETAIL},
    };
}

std::vector<Entry> help_entries() {
    return {
        {"マニュアル", ID_HELP_MANUAL},
        {"Ｗｅｂページ", ID_HELP_HOMEPAGE},
        {"ＷｉｎＳｏｃｋ情報", ID_HELP_WINSOCK},
        {"バージョン情報", ID_HELP_VERSION},
    };
}

TEST(Menus, MainMenuBar) {
    UniqueMenu menu = load_menu(IDM_MAIN);
    ASSERT_TRUE(menu);
    expect_menu(menu.get(),
                {
                    popup("ﾌｧｲﾙ(&F)", {{"Vellumの終了", ID_FILE_EXIT}}),
                    popup("設定(&S)", settings_entries("保存フォルダ")),
                    popup("ﾍﾙﾌﾟ(&H)", help_entries()),
                },
                "101");
}

TEST(Menus, TrayMenu) {
    UniqueMenu menu = load_menu(IDM_TRAY);
    ASSERT_TRUE(menu);
    expect_menu(menu.get(),
                {popup("メニュー(&M)",
                       {
                           popup("設定", settings_entries("保存ﾌｫﾙﾀﾞ")),
                           popup("ヘルプ", help_entries()),
                           {"メインウィンドウを開く", ID_OPEN_MAIN_WINDOW},
                           separator,
                           {"Vellumの終了", ID_FILE_EXIT},
                       })},
                "153");
}

TEST(Menus, RequestTreeMenu) {
    UniqueMenu menu = load_menu(IDM_REQUEST);
    ASSERT_TRUE(menu);
    expect_menu(menu.get(),
                {popup("メニュー",
                       {
                           {"自動取得に予約(&A)\tEnter / ﾀﾞﾌﾞﾙｸﾘｯｸ", ID_REQUEST_RESERVE},
                           separator,
                           {"コピー(&C)\tCtrl+C", ID_REQUEST_COPY},
                           separator,
                           {"ログ表示(&L)", ID_REQUEST_LOG},
                       })},
                "146");
}

TEST(Menus, AutoGetMenuBarStartsBetweenRuns) {
    UniqueMenu menu = load_menu(IDM_AUTOGET);
    ASSERT_TRUE(menu);
    expect_menu(menu.get(),
                {
                    popup("取得(&G)",
                          {
                              {"スタート", ID_AUTOGET_START},
                              {"ストップ", ID_AUTOGET_STOP, {}, true},
                          }),
                    popup("設定(&S)", {{"パスワード設定", ID_AUTOGET_PASSWORDS}}),
                },
                "168");
}

TEST(Menus, PageTreeMenu) {
    UniqueMenu menu = load_menu(IDM_AUTOGET_TREE);
    ASSERT_TRUE(menu);
    expect_menu(menu.get(),
                {popup("メニュー",
                       {
                           {"自動取得の設定(&A)\tEnter / ﾀﾞﾌﾞﾙｸﾘｯｸ", ID_PAGE_SETTINGS},
                           separator,
                           {"スキップ(&S)\tEsc", ID_PAGE_SKIP},
                           separator,
                           {"コピー(&C)\tCtrl+C", ID_PAGE_COPY},
                           {"URL検索(&F)\tCtrl+F", ID_PAGE_SEARCH},
                           {"ブラウザ表示(&P)", ID_PAGE_BROWSE},
                           separator,
                           {"取得待機に戻す(&U)", ID_PAGE_RESET},
                           {"ツリーから削除(&D)\tDel", ID_PAGE_DELETE},
                       })},
                "177");
}

TEST(Menus, TextsAreShiftJisAsTheProgramSeesThem) {
    // The resource holds UTF-16; the program reads it through the A functions.
    UniqueMenu menu = load_menu(IDM_MAIN);
    ASSERT_TRUE(menu);
    std::string file = menu_text(menu.get(), 0);
    ASSERT_EQ(file.size(), 8u);  // four half-width katakana, "(&F)"
    EXPECT_EQ(static_cast<unsigned char>(file[0]), 0xCC);  // ﾌ
}

// ---- Icons -----------------------------------------------------------------

constexpr int kIcons[] = {IDI_OFFLINE,        IDI_ONLINE,      IDI_RECORDING,
                          IDI_RECORDING_BUSY, IDI_ONLINE_BUSY, IDI_OFFLINE_BUSY,
                          IDI_AUTOGET,        IDI_AUTOGET_RUNNING};

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bits;
    DWORD bytes;
    WORD id;
};
struct GroupIconHeader {
    WORD reserved, type, count;
    GroupIconEntry entries[1];
};
#pragma pack(pop)

// The square sizes stored in an icon group, so that a size the system would
// otherwise make by scaling another image is noticed.
std::vector<int> stored_sizes(int id) {
    std::vector<int> sizes;
    HRSRC found = FindResourceA(module(), MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
    if (!found) return sizes;
    auto* group = static_cast<const GroupIconHeader*>(LockResource(LoadResource(module(), found)));
    for (WORD i = 0; i < group->count; ++i) {
        const GroupIconEntry& e = group->entries[i];
        int w = e.width ? e.width : 256, h = e.height ? e.height : 256;
        sizes.push_back(w == h ? w : -1);
    }
    return sizes;
}

// 32-bit top-down pixels of a drawing made by `paint` on a `size` square
// filled with `background`.
template <typename Paint>
std::vector<COLORREF> render(int size, COLORREF background, Paint paint) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = size;
    info.bmiHeader.biHeight = -size;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP target = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, target);
    HBRUSH brush = CreateSolidBrush(background);
    RECT all{0, 0, size, size};
    FillRect(dc, &all, brush);
    DeleteObject(brush);
    paint(dc);
    GdiFlush();
    std::vector<COLORREF> pixels;
    for (int i = 0; i < size * size; ++i) {
        uint32_t bgrx = static_cast<const uint32_t*>(bits)[i];
        pixels.push_back(RGB((bgrx >> 16) & 0xFF, (bgrx >> 8) & 0xFF, bgrx & 0xFF));
    }
    SelectObject(dc, old);
    DeleteObject(target);
    DeleteDC(dc);
    return pixels;
}

void expect_icon(int id, int size) {
    SCOPED_TRACE("icon " + std::to_string(id) + " at " + std::to_string(size));
    UniqueIcon icon(static_cast<HICON>(LoadImageA(module(), MAKEINTRESOURCEA(id), IMAGE_ICON, size, size, 0)));
    ASSERT_TRUE(icon);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon.get(), &info));
    BITMAP colour{};
    GetObjectA(info.hbmColor, sizeof colour, &colour);
    EXPECT_EQ(colour.bmWidth, size);
    EXPECT_EQ(colour.bmHeight, size);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);

    // Drawn on white and on black: where the two agree the icon is opaque,
    // where they differ it lets the background through. A picture needs both.
    auto draw = [&](HDC dc) { DrawIconEx(dc, 0, 0, icon.get(), size, size, 0, nullptr, DI_NORMAL); };
    std::vector<COLORREF> on_white = render(size, RGB(255, 255, 255), draw);
    std::vector<COLORREF> on_black = render(size, RGB(0, 0, 0), draw);
    int opaque = 0, clear = 0;
    for (size_t i = 0; i < on_white.size(); ++i) (on_white[i] == on_black[i] ? opaque : clear)++;
    EXPECT_GT(opaque, size * size / 4);
    EXPECT_GT(clear, 0);
    EXPECT_NE(on_white[0], on_black[0]) << "the top-left corner is background";
}

TEST(Icons, EverySmallIconHasItsOwn16PixelImage) {
    for (int id : kIcons) {
        std::vector<int> sizes = stored_sizes(id);
        EXPECT_NE(std::find(sizes.begin(), sizes.end(), 16), sizes.end()) << id;
        expect_icon(id, GetSystemMetrics(SM_CXSMICON));
        expect_icon(id, 16);
    }
}

TEST(Icons, WindowClassIconsAlsoHave32PixelImages) {
    for (int id : {IDI_OFFLINE, IDI_AUTOGET}) {
        std::vector<int> sizes = stored_sizes(id);
        EXPECT_NE(std::find(sizes.begin(), sizes.end(), 32), sizes.end()) << id;
        expect_icon(id, 32);
        UniqueIcon large(LoadIconA(module(), MAKEINTRESOURCEA(id)));
        EXPECT_TRUE(large) << id;
    }
}

// ---- Bitmaps ---------------------------------------------------------------

struct Pixels {
    int width = 0, height = 0, bits = 0;
    std::vector<COLORREF> rgb;  // top row first
    COLORREF at(int x, int y) const { return rgb[y * width + x]; }
};

Pixels read_bitmap(HBITMAP bitmap) {
    Pixels p;
    BITMAP header{};
    GetObjectA(bitmap, sizeof header, &header);
    p.width = header.bmWidth;
    p.height = header.bmHeight;
    p.bits = header.bmBitsPixel;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = p.width;
    info.bmiHeader.biHeight = -p.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    std::vector<uint32_t> raw(static_cast<size_t>(p.width) * p.height);
    HDC dc = GetDC(nullptr);
    GetDIBits(dc, bitmap, 0, p.height, raw.data(), &info, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    for (uint32_t v : raw) p.rgb.push_back(RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF));
    return p;
}

Pixels load_bitmap(int id) {
    HBITMAP bitmap = static_cast<HBITMAP>(
        LoadImageA(module(), MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (!bitmap) return {};
    Pixels p = read_bitmap(bitmap);
    DeleteObject(bitmap);
    return p;
}

// How many pixels of image `index` (`size` wide) are not the key colour.
int drawn_pixels(const Pixels& p, int index, int size, COLORREF key) {
    int n = 0;
    for (int y = 0; y < p.height; ++y)
        for (int x = index * size; x < (index + 1) * size; ++x) n += p.at(x, y) != key;
    return n;
}

// Every image leaves its corners to the key colour; the blank ones are all key.
void expect_strip(const Pixels& p, int count, int size, COLORREF key, std::vector<int> blank) {
    for (int i = 0; i < count; ++i) {
        SCOPED_TRACE("image " + std::to_string(i));
        int left = i * size, right = left + size - 1, bottom = p.height - 1;
        EXPECT_EQ(p.at(left, 0), key);
        EXPECT_EQ(p.at(right, 0), key);
        EXPECT_EQ(p.at(left, bottom), key);
        EXPECT_EQ(p.at(right, bottom), key);
        bool is_blank = std::find(blank.begin(), blank.end(), i) != blank.end();
        if (is_blank)
            EXPECT_EQ(drawn_pixels(p, i, size, key), 0);
        else
            EXPECT_GT(drawn_pixels(p, i, size, key), size * p.height / 8);
    }
}

TEST(Bitmaps, RequestStateStrip) {
    Pixels p = load_bitmap(IDB_REQUEST_STATES);
    ASSERT_EQ(p.width, 256);
    ASSERT_EQ(p.height, 16);
    expect_strip(p, 16, 16, RGB(128, 128, 128), {0});
}

TEST(Bitmaps, PageStateStrip) {
    Pixels p = load_bitmap(IDB_PAGE_STATES);
    ASSERT_EQ(p.width, 256);
    ASSERT_EQ(p.height, 16);
    expect_strip(p, 16, 16, RGB(128, 128, 128), {0});
}

TEST(Bitmaps, ToolbarStrip) {
    Pixels p = load_bitmap(IDB_TOOLBAR);
    ASSERT_EQ(p.width, 80);
    ASSERT_EQ(p.height, 15);
    expect_strip(p, 5, 16, RGB(192, 192, 192), {});
}

TEST(Bitmaps, ToolbarBackgroundMapsToTheButtonFace) {
    // The toolbar replaces light grey through the bitmap's colour table, which
    // only a palette bitmap has; any other grey would stay visible.
    COLORMAP map{RGB(192, 192, 192), RGB(10, 200, 30)};
    HBITMAP mapped = CreateMappedBitmap(module(), IDB_TOOLBAR, 0, &map, 1);
    ASSERT_NE(mapped, nullptr);
    Pixels p = read_bitmap(mapped);
    DeleteObject(mapped);
    ASSERT_EQ(p.width, 80);
    EXPECT_EQ(std::count(p.rgb.begin(), p.rgb.end(), RGB(192, 192, 192)), 0);
    EXPECT_GT(std::count(p.rgb.begin(), p.rgb.end(), RGB(10, 200, 30)), 80 * 15 / 4);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(p.at(i * 16, 0), RGB(10, 200, 30)) << i;
}

TEST(Bitmaps, StateImagesDrawTransparentlyFromTheirImageList) {
    for (int id : {IDB_REQUEST_STATES, IDB_PAGE_STATES}) {
        SCOPED_TRACE(id);
        UniqueImageList list(ImageList_LoadImageA(module(), MAKEINTRESOURCEA(id), 16, 1, RGB(128, 128, 128),
                                                  IMAGE_BITMAP, LR_CREATEDIBSECTION));
        ASSERT_TRUE(list);
        EXPECT_EQ(ImageList_GetImageCount(list.get()), 16);
        for (int i = 1; i < 16; ++i) {
            std::vector<COLORREF> on_white = render(16, RGB(255, 255, 255), [&](HDC dc) {
                ImageList_Draw(list.get(), i, dc, 0, 0, ILD_TRANSPARENT);
            });
            EXPECT_EQ(on_white[0], RGB(255, 255, 255)) << "image " << i;
            EXPECT_EQ(std::count(on_white.begin(), on_white.end(), RGB(128, 128, 128)), 0) << "image " << i;
        }
    }
}

// ---- Dialog 143 ------------------------------------------------------------

INT_PTR CALLBACK plain_dialog(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

// A template rectangle in pixels, converted as the dialog manager does it:
// position and size each on their own (converting the right edge instead
// can round differently).
RECT dialog_units(HWND dialog, int x, int y, int w, int h) {
    RECT r{x, y, w, h};
    MapDialogRect(dialog, &r);
    return {r.left, r.top, r.left + r.right, r.top + r.bottom};
}

RECT child_rect(HWND dialog, HWND child) {
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

void expect_rect(const RECT& got, const RECT& want, const char* what) {
    SCOPED_TRACE(what);
    EXPECT_EQ(got.left, want.left);
    EXPECT_EQ(got.top, want.top);
    EXPECT_EQ(got.right, want.right);
    EXPECT_EQ(got.bottom, want.bottom);
}

std::string class_of(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

TEST(LogDialog, TemplateBuildsTheEditAndTheProgressBar) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    ASSERT_TRUE(InitCommonControlsEx(&controls));
    UniqueWindow dialog(CreateDialogParamA(module(), MAKEINTRESOURCEA(IDD_LOG), nullptr, plain_dialog, 0));
    ASSERT_TRUE(dialog);
    HWND d = dialog.get();

    LONG style = GetWindowLongA(d, GWL_STYLE);
    EXPECT_TRUE(style & WS_CAPTION);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(style & DS_MODALFRAME);
    EXPECT_FALSE(style & WS_VISIBLE) << "the opener places the window before showing it";
    RECT client{};
    GetClientRect(d, &client);
    expect_rect(client, dialog_units(d, 0, 0, 191, 171), "client area");

    HWND edit = GetDlgItem(d, IDC_LOG_TEXT);
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(class_of(edit), "Edit");
    LONG edit_style = GetWindowLongA(edit, GWL_STYLE);
    for (LONG bit : {ES_MULTILINE, ES_READONLY, ES_AUTOVSCROLL, ES_AUTOHSCROLL, LONG(WS_VSCROLL), LONG(WS_HSCROLL)})
        EXPECT_TRUE(edit_style & bit) << std::hex << bit;
    // The dialog manager turns an edit's plain border into a sunken edge.
    EXPECT_TRUE((edit_style & WS_BORDER) || (GetWindowLongA(edit, GWL_EXSTYLE) & WS_EX_CLIENTEDGE));
    expect_rect(child_rect(d, edit), dialog_units(d, 5, 5, 180, 145), "edit");

    HWND progress = GetDlgItem(d, IDC_LOG_PROGRESS);
    ASSERT_NE(progress, nullptr);
    EXPECT_STRCASEEQ(class_of(progress).c_str(), PROGRESS_CLASSA);
    expect_rect(child_rect(d, progress), dialog_units(d, 5, 156, 181, 10), "progress bar");

    LOGFONTA font{};
    ASSERT_TRUE(GetObjectA(reinterpret_cast<HFONT>(SendMessageA(d, WM_GETFONT, 0, 0)), sizeof font, &font));
    EXPECT_STREQ(font.lfFaceName, "ＭＳ Ｐゴシック");
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(font.lfHeight, -MulDiv(9, GetDeviceCaps(screen, LOGPIXELSY), 72));
    ReleaseDC(nullptr, screen);
}

}  // namespace
