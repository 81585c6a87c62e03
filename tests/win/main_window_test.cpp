// The program's start-up, listener, connection bookkeeping and close sequence
// on the real windows and real loopback sockets, inside the test process.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "autoget/autoget_window.h"
#include "base/messages.h"
#include "store/store_lock_win.h"
#include "resources/resource.h"
#include "base/placement.h"
#include "base/tree_font_win.h"
#include "tests/support/program_session_win.h"
#include "tests/support/socket_pair_win.h"
#include "tests/support/temp_folder_win.h"

namespace vellum {
namespace {

using testing::connect_to_proxy;
using testing::peer_closed;
using testing::registry_dword;

constexpr std::uint32_t kMissing = 0xFFFFFFFF;

class MainWindowTest : public testing::ProgramSession {
protected:
    bool count_is(int n) { return status_text(1) == "通信ｽﾚｯﾄﾞ " + std::to_string(n); }

    testing::WinsockSession winsock;
};

std::string window_text(HWND window) {
    char text[512] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string menu_text(HMENU menu, UINT id) {
    char text[512] = {};
    GetMenuStringA(menu, id, text, sizeof text, MF_BYCOMMAND);
    return text;
}

RECT rect_of(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    return rect;
}

void store_rectangle(const char* prefix, int left, int top, int right, int bottom) {
    RegKey key = open_or_create_key(HKEY_CURRENT_USER, kSettingsKeyPath);
    const std::string p = prefix;
    write_dword(key.get(), (p + "Left").c_str(), static_cast<std::uint32_t>(left));
    write_dword(key.get(), (p + "Top").c_str(), static_cast<std::uint32_t>(top));
    write_dword(key.get(), (p + "Right").c_str(), static_cast<std::uint32_t>(right));
    write_dword(key.get(), (p + "Bottom").c_str(), static_cast<std::uint32_t>(bottom));
}

int cell_height(HFONT font) {
    HDC dc = GetDC(nullptr);
    HGDIOBJ previous = SelectObject(dc, font);
    TEXTMETRICA metrics{};
    GetTextMetricsA(dc, &metrics);
    SelectObject(dc, previous);
    ReleaseDC(nullptr, dc);
    return metrics.tmHeight;
}

// Draws "_" in the font and reports whether any pixel changed.
bool underscore_shows(HFONT font) {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 40, 40);
    ReleaseDC(nullptr, screen);
    HGDIOBJ old_bitmap = SelectObject(dc, bitmap);
    HGDIOBJ old_font = SelectObject(dc, font);
    RECT all{0, 0, 40, 40};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    TextOutA(dc, 2, 2, "_", 1);
    bool ink = false;
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 40; ++x) ink = ink || GetPixel(dc, x, y) != RGB(255, 255, 255);
    }
    SelectObject(dc, old_font);
    SelectObject(dc, old_bitmap);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return ink;
}

int text_width(HWND window, const std::string& text) {
    HDC dc = GetDC(window);
    HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0)));
    SIZE size{};
    GetTextExtentPoint32A(dc, text.data(), static_cast<int>(text.size()), &size);
    SelectObject(dc, previous);
    ReleaseDC(window, dc);
    return size.cx;
}

int part_width(HWND status_bar, int part) {
    RECT rect{};
    SendMessageA(status_bar, SB_GETRECT, part, reinterpret_cast<LPARAM>(&rect));
    return rect.right - rect.left;
}

TEST_F(MainWindowTest, StartsListeningWithItsControlsAndEndsCleanly) {
    ASSERT_TRUE(start("127.0.0.1:28101"));
    EXPECT_EQ(window_text(window), "Vellum 1.31b");
    EXPECT_EQ(registry_dword("ServerAddress"), 0x7F000001u);
    EXPECT_EQ(registry_dword("ServerPort"), 28101u);
    EXPECT_NE(store_lock(), nullptr);

    EXPECT_EQ(status_text(1), "通信ｽﾚｯﾄﾞ 0");
    EXPECT_EQ(status_text(2), "保存ﾌｫﾙﾀﾞ " + settings().localPath);
    EXPECT_EQ(menu_text(GetMenu(window), ID_SAVE_FOLDER), settings().localPath);
    EXPECT_EQ(GetParent(main().progress_bar()), main().status_bar());

    // Separator, the two mode buttons, separator, the auto-get window button.
    ASSERT_EQ(SendMessageA(main().toolbar(), TB_BUTTONCOUNT, 0, 0), 5);
    const int expected[] = {0, ID_MODE_INTERNET, ID_MODE_LOCALIZE, 0, ID_OPEN_AUTOGET};
    for (int i = 0; i < 5; ++i) {
        TBBUTTON b{};
        SendMessageA(main().toolbar(), TB_GETBUTTON, i, reinterpret_cast<LPARAM>(&b));
        EXPECT_EQ(b.idCommand, expected[i]) << i;
    }
    EXPECT_EQ(GetDlgItem(window, IDC_REQUEST_TREE), main().tree_view());
    EXPECT_EQ(ImageList_GetImageCount(TreeView_GetImageList(main().tree_view(), TVSIL_STATE)), 16);

    // The tree speaks the dialogs' font, its rows tall enough for an
    // underscore below the baseline, and the first size shows the whole save
    // folder in the status bar.
    ASSERT_NE(dialog_font(), nullptr);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(main().tree_view(), WM_GETFONT, 0, 0)), dialog_font());
    EXPECT_EQ(TreeView_GetItemHeight(main().tree_view()), tree_row_height(cell_height(dialog_font())));
    EXPECT_GE(TreeView_GetItemHeight(main().tree_view()), cell_height(dialog_font()) + 2);
    EXPECT_TRUE(underscore_shows(dialog_font()));
    EXPECT_LE(text_width(main().status_bar(), status_text(2)), part_width(main().status_bar(), 2));

    HWND autoget = autoget_window();
    ASSERT_TRUE(autoget);
    EXPECT_FALSE(IsWindowVisible(autoget));
    EXPECT_EQ(window_text(autoget), "自動取得 - Vellum 1.31b");

    ASSERT_TRUE(close_program());
    EXPECT_EQ(autoget_window(), nullptr);
    EXPECT_EQ(store_lock(), nullptr);
    EXPECT_EQ(registry_dword("ServerAddress"), kMissing);
    EXPECT_EQ(registry_dword("ServerPort"), kMissing);
    EXPECT_TRUE(prompter.shown.empty());
}

TEST_F(MainWindowTest, CountsLiveConnectionsInTheStatusBarAndTheIcon) {
    ASSERT_TRUE(start("127.0.0.1:28102"));
    EXPECT_EQ(main().shown_icon_id(), IDI_OFFLINE);
    UniqueSocket browsers[3] = {connect_to_proxy(28102), connect_to_proxy(28102), connect_to_proxy(28102)};
    ASSERT_TRUE(pump_until([&] { return count_is(3); })) << status_text(1);
    EXPECT_EQ(main().connections().count(), 3);
    EXPECT_EQ(main().shown_icon_id(), IDI_OFFLINE_BUSY);
    for (auto& browser : browsers) browser.reset();
    ASSERT_TRUE(pump_until([&] { return count_is(0); })) << status_text(1);
    EXPECT_EQ(main().shown_icon_id(), IDI_OFFLINE);

    // A burst whose connections come and go while others are still being
    // accepted ends on the idle icon too.
    std::vector<UniqueSocket> burst;
    for (int round = 0; round < 4; ++round) {
        for (int i = 0; i < 40; ++i) burst.push_back(connect_to_proxy(28102));
        for (std::size_t i = round % 2; i < burst.size(); i += 2) burst[i].reset();
        pump_until([&] { return main().connections().count() <= static_cast<int>(burst.size()) / 2; });
    }
    burst.clear();
    ASSERT_TRUE(pump_until([&] { return count_is(0); })) << status_text(1);
    EXPECT_EQ(main().shown_icon_id(), IDI_OFFLINE);
}

// An origin server on its own thread: accepts one connection, keeps the
// request header and answers a small page.
class OneShotOrigin {
public:
    explicit OneShotOrigin(int port) : listener_(socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        at.sin_port = htons(static_cast<u_short>(port));
        bind(listener_.get(), reinterpret_cast<sockaddr*>(&at), sizeof at);
        listen(listener_.get(), 5);
        thread_ = std::thread([this] {
            UniqueSocket client(accept(listener_.get(), nullptr, nullptr));
            if (!client) return;
            accepted = true;
            std::string header;
            char c;
            while (header.find("\r\n\r\n") == std::string::npos && recv(client.get(), &c, 1, 0) == 1) header += c;
            request = header;
            testing::send_all(client.get(), "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<p>page</p>");
            answered = true;
        });
    }
    ~OneShotOrigin() {
        listener_.reset();
        thread_.join();
    }

    std::atomic<bool> accepted{false};
    std::atomic<bool> answered{false};
    std::string request;  // read once `answered`

private:
    UniqueSocket listener_;
    std::thread thread_;
};

TEST_F(MainWindowTest, ForcedGetQueueWaitsUntilEveryConnectionHasEnded) {
    testing::TempFolder save;
    OneShotOrigin origin(28191);
    ASSERT_TRUE(start("127.0.0.1:28103"));
    UniqueSocket browsers[3] = {connect_to_proxy(28103), connect_to_proxy(28103), connect_to_proxy(28103)};
    ASSERT_TRUE(pump_until([&] { return count_is(3); }));

    LineList entry{"GET http://127.0.0.1:28191/page.html HTTP/1.0\r\n", "Vellum-Mode: GetOnly\r\n",
                   "Vellum-LocalPath: " + save.path() + "\r\n", "Host: 127.0.0.1:28191\r\n", "\r\n"};
    ASSERT_TRUE(main().connections().queue_forced_get(entry));
    EXPECT_FALSE(main().connections().queue_forced_get(entry));  // the same first line is queued once

    browsers[0].reset();
    browsers[1].reset();
    ASSERT_TRUE(pump_until([&] { return count_is(1); }));
    EXPECT_EQ(main().connections().queued_forced_gets(), 1u);
    EXPECT_FALSE(origin.accepted);

    browsers[2].reset();
    ASSERT_TRUE(pump_until([&] { return origin.answered.load(); }));
    EXPECT_EQ(main().connections().queued_forced_gets(), 0u);
    EXPECT_EQ(origin.request.substr(0, origin.request.find("\r\n")), "GET /page.html HTTP/1.0");
    // The replayed request is an ordinary connection: it shows in the tree
    // and is recorded under the folder it names.
    ASSERT_TRUE(pump_until([&] { return count_is(0); }));
    EXPECT_EQ(TreeView_GetCount(main().tree_view()), 1u);
    EXPECT_FALSE(testing::list_folder(save.path()).empty());
}

TEST_F(MainWindowTest, CloseWaitsForLiveConnectionsThenEndsByItself) {
    ASSERT_TRUE(start("127.0.0.1:28104"));
    UniqueSocket browsers[2] = {connect_to_proxy(28104), connect_to_proxy(28104)};
    ASSERT_TRUE(pump_until([&] { return count_is(2); }));

    SendMessageA(window, WM_CLOSE, 0, 0);
    // The close sequence has aborted both connections but must wait for
    // their threads: the window stays, the published address is gone.
    EXPECT_TRUE(IsWindow(window));
    EXPECT_TRUE(main().closing());
    EXPECT_EQ(main().connections().count(), 2);
    EXPECT_EQ(registry_dword("ServerPort"), kMissing);

    ASSERT_TRUE(pump_until([&] { return quit_seen && !IsWindow(window); }));
    EXPECT_TRUE(peer_closed(browsers[0].get()));
    EXPECT_TRUE(peer_closed(browsers[1].get()));
    EXPECT_TRUE(prompter.shown.empty());
}

TEST_F(MainWindowTest, SocketAcceptedDuringTheCloseSequenceIsClosedAtOnce) {
    ASSERT_TRUE(start("127.0.0.1:28105"));
    UniqueSocket browser = connect_to_proxy(28105);
    ASSERT_TRUE(pump_until([&] { return count_is(1); }));
    SendMessageA(window, WM_CLOSE, 0, 0);
    ASSERT_TRUE(IsWindow(window));

    testing::SocketPair late = testing::make_socket_pair();
    PostMessageA(window, MWM_CLIENT_ACCEPTED, static_cast<WPARAM>(late.near_end.release()), 0);
    ASSERT_TRUE(pump_until([&] { return quit_seen && !IsWindow(window); }));
    EXPECT_TRUE(peer_closed(late.far_end.get()));
}

TEST_F(MainWindowTest, BindFailureWarnsAndCloses) {
    UniqueSocket occupant(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    at.sin_port = htons(28106);
    ASSERT_EQ(bind(occupant.get(), reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    listen(occupant.get(), 5);
    publish_listening_address(0x0A000001, 9999);  // as another copy left them

    ASSERT_TRUE(start("127.0.0.1:28106"));
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, "ｂｉｎｄ失敗！");
    EXPECT_EQ(prompter.shown[0].caption, "Vellum 1.31b");
    EXPECT_EQ(prompter.shown[0].flags, static_cast<UINT>(MB_OK | MB_ICONWARNING | MB_SYSTEMMODAL));
    ASSERT_TRUE(pump_until([&] { return quit_seen && !IsWindow(window); }));
    // Its close sequence took the other copy's published address with it.
    EXPECT_EQ(registry_dword("ServerAddress"), kMissing);
}

TEST_F(MainWindowTest, UnresolvableListeningHostWarnsAndCloses) {
    ASSERT_TRUE(start("nosuchhost.invalid:28107"));
    EXPECT_TRUE(shown("接続待機ホスト名エラー！"));
    ASSERT_TRUE(pump_until([&] { return quit_seen && !IsWindow(window); }));
}

TEST_F(MainWindowTest, PutShowsTheListeningAddressWithoutIcon) {
    ASSERT_TRUE(start("put 127.0.0.1:28108"));
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, "アドレス 127.0.0.1　ポート 28108\n\nにて接続待機します");
    EXPECT_EQ(prompter.shown[0].flags, static_cast<UINT>(MB_OK | MB_SYSTEMMODAL));
    EXPECT_EQ(registry_dword("ServerPort"), 28108u);
}

TEST_F(MainWindowTest, AutocloseCountsOnlyAfterDebug) {
    ASSERT_TRUE(start("debug autoclose 127.0.0.1:28109"));
    EXPECT_EQ(main().debug_mode(), 2);
    ASSERT_TRUE(close_program());
    ASSERT_TRUE(start("AUTOCLOSE Debug 127.0.0.1:28109"));
    EXPECT_EQ(main().debug_mode(), 1);
}

TEST_F(MainWindowTest, ResizingKeepsTheTreeBetweenTheBarsAndTheProgressInPartZero) {
    ASSERT_TRUE(start("127.0.0.1:28114"));
    MoveWindow(window, 10, 10, 640, 480, TRUE);
    pump();
    auto client_rect_of = [&](HWND child) {
        RECT r = rect_of(child);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
        return r;
    };
    RECT client{};
    GetClientRect(window, &client);
    const RECT tree_rect = client_rect_of(main().tree_view());
    EXPECT_EQ(tree_rect.left, 0);
    EXPECT_EQ(tree_rect.right, client.right);
    EXPECT_EQ(tree_rect.top, client_rect_of(main().toolbar()).bottom);
    EXPECT_EQ(tree_rect.bottom, client_rect_of(main().status_bar()).top);

    RECT part{};
    SendMessageA(main().status_bar(), SB_GETRECT, 0, reinterpret_cast<LPARAM>(&part));
    RECT progress = rect_of(main().progress_bar());
    MapWindowPoints(nullptr, main().status_bar(), reinterpret_cast<POINT*>(&progress), 2);
    EXPECT_TRUE(EqualRect(&part, &progress));
}

TEST_F(MainWindowTest, MinimisingHidesTheMainWindow) {
    ASSERT_TRUE(start("127.0.0.1:28110"));
    ShowWindow(window, SW_SHOW);
    ShowWindow(window, SW_MINIMIZE);
    pump();
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_TRUE(IsWindow(window));
}

TEST_F(MainWindowTest, WindowsAreCentredWithoutAStoredPlace) {
    ASSERT_TRUE(start("127.0.0.1:28111"));
    RECT work{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    const ScreenRect area{work.left, work.top, work.right, work.bottom};
    const RECT main_rect = rect_of(window);
    const ScreenPoint expected =
        centered_position(area, main_rect.right - main_rect.left, main_rect.bottom - main_rect.top);
    EXPECT_EQ(main_rect.left, expected.x);
    EXPECT_EQ(main_rect.top, expected.y);
}

TEST_F(MainWindowTest, StoredRectanglesPlaceBothWindowsAndAreSavedAtExit) {
    store_rectangle("windowPos", 100, 120, 600, 420);
    store_rectangle("recWindowPos", 200, 150, 700, 550);
    ASSERT_TRUE(start("127.0.0.1:28112"));
    const RECT main_rect = rect_of(window);
    EXPECT_EQ(main_rect.left, 100);
    EXPECT_EQ(main_rect.top, 120);
    EXPECT_EQ(main_rect.right, 600);
    EXPECT_EQ(main_rect.bottom, 420);
    const RECT autoget_rect = rect_of(autoget_window());
    EXPECT_EQ(autoget_rect.left, 200);
    EXPECT_EQ(autoget_rect.bottom, 550);

    MoveWindow(window, 50, 60, 400, 300, FALSE);
    MoveWindow(autoget_window(), 70, 80, 500, 400, FALSE);
    ASSERT_TRUE(close_program());
    EXPECT_EQ(registry_dword("windowPosLeft"), 50u);
    EXPECT_EQ(registry_dword("windowPosTop"), 60u);
    EXPECT_EQ(registry_dword("windowPosRight"), 450u);
    EXPECT_EQ(registry_dword("windowPosBottom"), 360u);
    EXPECT_EQ(registry_dword("recWindowPosLeft"), 70u);
    EXPECT_EQ(registry_dword("recWindowPosBottom"), 480u);
}

TEST_F(MainWindowTest, ClosingTheAutoGetWindowOnlyHidesIt) {
    ASSERT_TRUE(start("127.0.0.1:28113"));
    HWND autoget = autoget_window();
    show_autoget_window();
    EXPECT_TRUE(IsWindowVisible(autoget));
    SendMessageA(autoget, WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(autoget));
    EXPECT_FALSE(IsWindowVisible(autoget));
}

}  // namespace
}  // namespace vellum
