// The real auto-get window on the test thread, with a stand-in for the rest
// of the program (AutoGetHost) and a fake proxy port behind the real crawler
// thread: its controls and menus, reservations, runs that fill the tree,
// stops, the retry wait, the deferral while a context menu is open, and the
// tree's keys. Every message box is answered by a recording prompter.
#include "autoget/autoget_window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/icons_win.h"
#include "base/messages.h"
#include "base/prompt.h"
#include "base/tree_font_win.h"
#include "proxy/crawler_report_win.h"
#include "resources/resource.h"
#include "tests/support/fake_proxy_win.h"
#include "tests/support/program_session_win.h"
#include "tests/support/socket_pair_win.h"
#include "tests/support/temp_folder_win.h"
#include "tests/support/ui_driver_win.h"

namespace vellum {
namespace {

using testing::FakeProxy;
using testing::record_page;
using testing::RecordingPrompter;

class FakeHost : public AutoGetHost {
public:
    HWND main_window() const override { return main; }
    bool program_closing() const override { return closing; }
    bool internet_on() const override { return internet; }
    std::optional<ProxyEndpoint> proxy_endpoint() const override { return endpoint; }
    ConnectionRegistry* connections() override { return nullptr; }

    HWND main = nullptr;
    bool closing = false;
    bool internet = false;
    std::optional<ProxyEndpoint> endpoint;
};

// A manual-reset event a fake proxy's handler waits on.
class Gate {
public:
    Gate() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    void open() { SetEvent(event_.get()); }
    void wait() { WaitForSingleObject(event_.get(), 30000); }

private:
    KernelHandle event_;
};

struct Item {
    int depth;
    int image;
    std::string label;
    bool operator==(const Item&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Item& item) {
    return out << item.depth << " " << item.image << " " << item.label;
}

// Holds keys down for GetKeyState on this thread while it lives.
class HeldKeys {
public:
    explicit HeldKeys(std::initializer_list<int> keys) {
        GetKeyboardState(saved_);
        BYTE state[256];
        GetKeyboardState(state);
        for (int key : keys) state[key] |= 0x80;
        SetKeyboardState(state);
    }
    ~HeldKeys() { SetKeyboardState(saved_); }

private:
    BYTE saved_[256];
};

// Watches for the tree's popup menu from another thread: records what it
// offers, runs `during` while it is open, then chooses by `mnemonic` or
// closes it with Escape.
class MenuWatch {
public:
    MenuWatch(HWND owner, char mnemonic = 0, std::function<void()> during = nullptr) {
        thread_ = std::thread([this, owner, mnemonic, during] {
            for (int waited = 0; waited < 100 && !stop_; ++waited) {
                HWND menu = FindWindowA("#32768", nullptr);
                if (menu && IsWindowVisible(menu)) {
                    opened = true;
                    HMENU handle = reinterpret_cast<HMENU>(SendMessageA(menu, MN_GETHMENU, 0, 0));
                    if (handle) {
                        auto grayed = [&](UINT id) { return (GetMenuState(handle, id, MF_BYCOMMAND) & MF_GRAYED) != 0; };
                        settings_grayed = grayed(ID_PAGE_SETTINGS);
                        reset_grayed = grayed(ID_PAGE_RESET);
                        browse_grayed = grayed(ID_PAGE_BROWSE);
                        char text[128] = {};
                        GetMenuStringA(handle, ID_PAGE_SKIP, text, sizeof text, MF_BYCOMMAND);
                        skip_text = text;
                    }
                    if (during) during();
                    if (mnemonic) {
                        PostMessageA(owner, WM_CHAR, static_cast<WPARAM>(mnemonic), 0);
                    } else {
                        PostMessageA(owner, WM_KEYDOWN, VK_ESCAPE, 0);
                    }
                    return;
                }
                Sleep(20);
            }
        });
    }
    ~MenuWatch() { finish(); }
    void finish() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }

    std::atomic<bool> opened{false};
    bool settings_grayed = true;
    bool reset_grayed = false;
    bool browse_grayed = false;
    std::string skip_text;

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Plays the user at the start dialog while it lives: whenever the test
// thread shows it, 今すぐスタート is pressed, so that the start command starts
// a run at once.
class StartNow {
public:
    StartNow() : ui_thread_(GetCurrentThreadId()) {
        thread_ = std::thread([this] {
            while (!stop_) {
                struct Search {
                    HWND found = nullptr;
                } search;
                EnumThreadWindows(
                    ui_thread_,
                    [](HWND w, LPARAM param) -> BOOL {
                        char name[16] = {};
                        GetClassNameA(w, name, sizeof name);
                        if (!IsWindowVisible(w) || std::string(name) != "#32770") return TRUE;
                        if (testing::UiDriver::window_title(w) != "自動取得スタート") return TRUE;
                        reinterpret_cast<Search*>(param)->found = w;
                        return FALSE;
                    },
                    reinterpret_cast<LPARAM>(&search));
                if (search.found) {
                    PostMessageA(search.found, WM_COMMAND, MAKEWPARAM(IDC_START_NOW, BN_CLICKED), 0);
                    Sleep(200);
                }
                Sleep(20);
            }
        });
    }
    ~StartNow() {
        stop_ = true;
        thread_.join();
    }

private:
    DWORD ui_thread_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class AutoGetWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_TREEVIEW_CLASSES | ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        load_small_icons(GetModuleHandleA(nullptr));
        ASSERT_TRUE(register_autoget_window_class(GetModuleHandleA(nullptr)));
    }

    void SetUp() override {
        previous_ = set_prompter(&prompter);
        window = create_autoget_window(GetModuleHandleA(nullptr), settings, host);
        ASSERT_TRUE(window);
        tree = GetDlgItem(window, IDC_PAGE_TREE);
    }

    void TearDown() override {
        if (autoget_run_in_progress()) {
            SendMessageA(window, WM_COMMAND, ID_AUTOGET_STOP, 0);
            pump_until([] { return !autoget_run_in_progress(); });
        }
        if (IsWindow(window)) DestroyWindow(window);
        set_prompter(previous_);
    }

    AutoGetWindow& self() { return *AutoGetWindow::existing(); }

    void pump() {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    bool pump_until(const std::function<bool()>& done, DWORD limit_ms = 30000) {
        const ULONGLONG start = GetTickCount64();
        for (;;) {
            pump();
            if (done()) return true;
            if (GetTickCount64() - start > limit_ms) return false;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
    }

    ReserveOutcome reserve(const std::string& url, const std::string& method = "GET", const std::string& referer = "",
                           const std::string& user_agent = "") {
        ProxyRequest request;
        request.method = method;
        request.url = url;
        request.parsed_url = parse_url(url).value();
        if (!referer.empty()) request.parsed_referer = parse_url(referer);
        if (!user_agent.empty()) request.user_agent = user_agent;
        return autoget_reserve(window, request, save.path());
    }

    void use_proxy(const FakeProxy& proxy) { host.endpoint = ProxyEndpoint{INADDR_LOOPBACK, proxy.port()}; }

    // Starts a run as the user does and waits for its end.
    bool run() {
        SendMessageA(window, WM_COMMAND, ID_AUTOGET_START, 0);
        if (!autoget_run_in_progress()) return false;
        return pump_until([] { return !autoget_run_in_progress(); });
    }

    // Every node, as a user could unfold the tree; those with an item read
    // back from the control.
    std::vector<Item> items() {
        std::vector<Item> out;
        for (const PageOutlineLine& line : page_tree_outline(self().page_tree())) {
            out.push_back({line.depth, line.image, line.label});
        }
        return out;
    }
    Item item_view(HTREEITEM item, int depth = 0) {
        char text[1024] = {};
        TVITEMA query{};
        query.mask = TVIF_TEXT | TVIF_STATE;
        query.stateMask = TVIS_STATEIMAGEMASK;
        query.hItem = item;
        query.pszText = text;
        query.cchTextMax = sizeof text;
        SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&query));
        return {depth, static_cast<int>((query.state & TVIS_STATEIMAGEMASK) >> 12), text};
    }
    int image_of(const PageNode* node) {
        if (!node) return -1;
        HTREEITEM item = Win32PageTreeView::shown_item(*node);
        return item ? item_view(item).image : node->view_slot().image;
    }

    UINT menu_state(UINT id) { return GetMenuState(GetMenu(window), id, MF_BYCOMMAND); }
    bool button_enabled(UINT id) { return SendMessageA(self().toolbar(), TB_ISBUTTONENABLED, id, 0) != 0; }

    LRESULT press_in_tree(WORD key) {
        NMTVKEYDOWN down{};
        down.hdr = NMHDR{tree, IDC_PAGE_TREE, static_cast<UINT>(TVN_KEYDOWN)};
        down.wVKey = key;
        return SendMessageA(window, WM_NOTIFY, IDC_PAGE_TREE, reinterpret_cast<LPARAM>(&down));
    }
    void select(PageNode* node) { TreeView_SelectItem(tree, self().tree_adapter().make_item(*node)); }

    bool shown(const std::string& text) const {
        for (const auto& box : prompter.shown) {
            if (box.text == text) return true;
        }
        return false;
    }

    testing::WinsockSession winsock;
    testing::TempFolder save;
    StartNow start_now;
    AutoGetSettings settings;
    FakeHost host;
    RecordingPrompter prompter;
    HWND window = nullptr;
    HWND tree = nullptr;

private:
    Prompter* previous_ = nullptr;
};

TEST_F(AutoGetWindowTest, ControlsAndMenusBetweenRuns) {
    char title[128] = {};
    GetWindowTextA(window, title, sizeof title);
    EXPECT_STREQ(title, "自動取得 - Vellum 1.31b");
    EXPECT_FALSE(IsWindowVisible(window));

    // Toolbar: a separator, スタート and ストップ (grayed between runs).
    HWND toolbar = self().toolbar();
    ASSERT_EQ(GetDlgCtrlID(toolbar), IDC_TOOLBAR);
    ASSERT_EQ(SendMessageA(toolbar, TB_BUTTONCOUNT, 0, 0), 3);
    std::vector<std::pair<int, int>> buttons;
    for (int i = 0; i < 3; ++i) {
        TBBUTTON button{};
        SendMessageA(toolbar, TB_GETBUTTON, i, reinterpret_cast<LPARAM>(&button));
        buttons.emplace_back(button.idCommand, (button.fsStyle & TBSTYLE_SEP) ? -1 : button.iBitmap);
    }
    EXPECT_EQ(buttons, (std::vector<std::pair<int, int>>{{0, -1}, {ID_AUTOGET_START, 3}, {ID_AUTOGET_STOP, 4}}));
    EXPECT_TRUE(button_enabled(ID_AUTOGET_START));
    EXPECT_FALSE(button_enabled(ID_AUTOGET_STOP));
    for (auto [id, text] : {std::pair<UINT, const char*>{ID_AUTOGET_START, "スタート"}, {ID_AUTOGET_STOP, "ストップ"}}) {
        NMTTDISPINFOA tip{};
        tip.hdr = NMHDR{toolbar, id, static_cast<UINT>(TTN_GETDISPINFOA)};
        SendMessageA(window, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&tip));
        EXPECT_STREQ(tip.lpszText, text);
    }

    EXPECT_FALSE(menu_state(ID_AUTOGET_START) & MF_GRAYED);
    EXPECT_FALSE(menu_state(ID_AUTOGET_PASSWORDS) & MF_GRAYED);
    EXPECT_TRUE(menu_state(ID_AUTOGET_STOP) & MF_GRAYED);

    // Status bar with one part holding the progress bar; the tree between.
    HWND status = self().status_bar();
    EXPECT_EQ(GetDlgCtrlID(status), IDC_STATUSBAR);
    EXPECT_EQ(SendMessageA(status, SB_GETPARTS, 0, 0), 1);
    HWND progress = self().progress_bar();
    EXPECT_EQ(GetParent(progress), status);
    EXPECT_EQ(GetDlgCtrlID(progress), IDC_PROGRESS);
    EXPECT_EQ(SendMessageA(progress, PBM_GETRANGE, FALSE, 0), 100);
    SendMessageA(window, AGM_PROGRESS, 42, 1);
    EXPECT_EQ(SendMessageA(progress, PBM_GETPOS, 0, 0), 42);

    ASSERT_TRUE(tree);
    const LONG style = GetWindowLongA(tree, GWL_STYLE);
    for (LONG bit : {TVS_HASBUTTONS, TVS_HASLINES, TVS_LINESATROOT, TVS_SHOWSELALWAYS}) EXPECT_TRUE(style & bit);
    EXPECT_TRUE(GetWindowLongA(tree, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
    HIMAGELIST states = TreeView_GetImageList(tree, TVSIL_STATE);
    ASSERT_TRUE(states);
    EXPECT_EQ(ImageList_GetImageCount(states), 16);
    // The same font and rows as the request tree: URLs keep their underscores.
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(tree, WM_GETFONT, 0, 0)), dialog_font());
    EXPECT_GE(TreeView_GetItemHeight(tree), 16);

    MoveWindow(window, 10, 10, 500, 400, TRUE);
    RECT client{}, bar{}, bottom{}, area{};
    GetClientRect(window, &client);
    GetWindowRect(toolbar, &bar);
    GetWindowRect(status, &bottom);
    GetWindowRect(tree, &area);
    EXPECT_EQ(area.top, bar.bottom);
    EXPECT_EQ(area.bottom, bottom.top);
    EXPECT_EQ(area.right - area.left, client.right);

    // Closing only hides it.
    show_autoget_window();
    EXPECT_TRUE(IsWindowVisible(window));
    SendMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_FALSE(IsWindowVisible(window));
}

TEST_F(AutoGetWindowTest, ReservationsBecomeBaseNodesWithTheirJob) {
    settings.recStatusModify = 2;
    settings.recStatusLimit = 1;
    settings.recStatusLink = 4;
    settings.recStatusRetry = 7;
    settings.recStatusRetryTimer = 30000;
    EXPECT_EQ(reserve("http://h/dir/page.html?x=1", "GET", "http://ref.example/", "UA/2"), ReserveOutcome::added);
    EXPECT_EQ(items(), (std::vector<Item>{{0, 5, "http://h/dir/page.html?x=1"}}));
    const PageNode* base = self().page_tree().first_base();
    ASSERT_TRUE(base);
    const AutoGetJob& job = *base->job();
    EXPECT_EQ(job.baseUrl, "http://h/dir/page.html?x=1");
    EXPECT_EQ(job.saveFolder, save.path());
    EXPECT_EQ(job.updateCheck, 2);
    EXPECT_EQ(job.restrictAll, 1);
    EXPECT_EQ(job.maxDepth, 4);
    EXPECT_EQ(job.retryCount, 7);
    EXPECT_EQ(job.retryInterval, 30000);
    EXPECT_EQ(job.restrictions, LineList{"http://h/dir/"});
    EXPECT_EQ(job.referer, parse_url("http://ref.example/"));
    EXPECT_EQ(job.userAgent, "UA/2");
    EXPECT_TRUE(prompter.shown.empty());

    // Only GET.
    EXPECT_EQ(reserve("http://h/form", "POST"), ReserveOutcome::not_get);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, "リクエストメソッドが「GET」ではないので、自動取得に予約できません！");
    EXPECT_EQ(prompter.shown[0].caption, "Vellum 1.31b");
    EXPECT_EQ(prompter.shown[0].flags, static_cast<UINT>(MB_OK | MB_ICONWARNING | MB_SYSTEMMODAL));

    // The same URL again: asked first.
    prompter.answer_yes = false;
    EXPECT_EQ(reserve("http://h/dir/page.html?x=1"), ReserveOutcome::declined);
    ASSERT_EQ(prompter.shown.size(), 2u);
    EXPECT_EQ(prompter.shown[1].text, "重複していますが、よろしいですか？");
    EXPECT_EQ(prompter.shown[1].flags & (MB_TYPEMASK | MB_ICONMASK | MB_SYSTEMMODAL),
              static_cast<UINT>(MB_YESNO | MB_ICONQUESTION | MB_SYSTEMMODAL));
    EXPECT_EQ(items().size(), 1u);
    prompter.answer_yes = true;
    EXPECT_EQ(reserve("http://h/dir/page.html?x=1"), ReserveOutcome::added);
    EXPECT_EQ(items().size(), 2u);
}

TEST_F(AutoGetWindowTest, ARunOverAnEmptyTreeEndsAtOnce) {
    FakeProxy proxy([](const std::string&) {});
    use_proxy(proxy);
    ASSERT_TRUE(run());
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, "自動取得を終了しました。");
    EXPECT_EQ(prompter.shown[0].flags, static_cast<UINT>(MB_OK | MB_ICONINFORMATION | MB_SYSTEMMODAL));
    EXPECT_TRUE(proxy.requests().empty());

    settings.recStart.linkOnly = 1;
    ASSERT_TRUE(run());
    ASSERT_EQ(prompter.shown.size(), 2u);
    EXPECT_EQ(prompter.shown[1].text, "リンク構造取得を終了しました。");
    // Between runs again.
    EXPECT_FALSE(menu_state(ID_AUTOGET_START) & MF_GRAYED);
    EXPECT_TRUE(menu_state(ID_AUTOGET_STOP) & MF_GRAYED);
    EXPECT_EQ(crawler_thread_id(), 0u);
}

TEST_F(AutoGetWindowTest, ARunFillsTheTreeWithStateImages) {
    Gate first;
    FakeProxy proxy([&](const std::string& block) {
        const std::string url = block.substr(4, block.find(" HTTP/1.0") - 4);
        if (url == "http://h/index.html") {
            first.wait();
            record_page(save.path(), url,
                        "<a href='a.html'>a</a><img src='i.gif'><a href='http://other/x.html'>x</a>", "text/html");
        } else if (url == "http://h/a.html") {
            record_page(save.path(), url, "<a href='b.html'>b</a><a href='index.html'>back</a>", "text/html");
        } else if (url == "http://h/i.gif") {
            record_page(save.path(), url, "GIF", "image/gif");
        }
        report_fetch_done(200);
    });
    use_proxy(proxy);
    settings.recStatusLink = 1;
    ASSERT_EQ(reserve("http://h/index.html"), ReserveOutcome::added);

    SendMessageA(window, WM_COMMAND, ID_AUTOGET_START, 0);
    ASSERT_TRUE(autoget_run_in_progress());
    // During the run: スタート and パスワード設定 grayed, ストップ enabled, the running icon.
    EXPECT_TRUE(menu_state(ID_AUTOGET_START) & MF_GRAYED);
    EXPECT_TRUE(menu_state(ID_AUTOGET_PASSWORDS) & MF_GRAYED);
    EXPECT_FALSE(menu_state(ID_AUTOGET_STOP) & MF_GRAYED);
    EXPECT_FALSE(button_enabled(ID_AUTOGET_START));
    EXPECT_TRUE(button_enabled(ID_AUTOGET_STOP));
    EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(window, WM_GETICON, ICON_SMALL, 0)), small_icon(IDI_AUTOGET_RUNNING));
    // The node being fetched shows the cyan square.
    PageNode* base = self().page_tree().first_base();
    ASSERT_TRUE(pump_until([&] { return image_of(base) == 6; }));
    EXPECT_EQ(self().current_node(), base);
    first.open();
    ASSERT_TRUE(pump_until([] { return !autoget_run_in_progress(); }));

    // Resources before hyperlinks; too deep and outside the restriction
    // skipped; the link back to the base a duplicate.
    EXPECT_EQ(items(), (std::vector<Item>{{0, 1, "http://h/index.html"},
                                          {1, 7, "http://h/i.gif"},
                                          {1, 1, "(1) http://h/a.html"},
                                          {2, 4, "(2) http://h/b.html"},
                                          {2, 4, "(2) http://h/index.html"},
                                          {1, 4, "(1) http://other/x.html"}}));
    EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(window, WM_GETICON, ICON_SMALL, 0)), small_icon(IDI_AUTOGET));
    EXPECT_TRUE(shown("自動取得を終了しました。"));
    EXPECT_EQ(self().current_node(), nullptr);
}

TEST_F(AutoGetWindowTest, StopAnsweredNoFinishesTheCurrentFileQuietly) {
    Gate release;
    FakeProxy proxy([&](const std::string& block) {
        release.wait();
        record_page(save.path(), block.substr(4, block.find(" HTTP/1.0") - 4), "body", "text/plain");
        report_fetch_done(200);
    });
    use_proxy(proxy);
    ASSERT_EQ(reserve("http://h/1.txt"), ReserveOutcome::added);
    ASSERT_EQ(reserve("http://h/2.txt"), ReserveOutcome::added);
    SendMessageA(window, WM_COMMAND, ID_AUTOGET_START, 0);
    PageNode* first = self().page_tree().first_base();
    ASSERT_TRUE(pump_until([&] { return image_of(first) == 6; }));

    prompter.answer_yes = false;
    prompter.on_show = [&] { EXPECT_TRUE(autoget_deferring()); };
    SendMessageA(window, WM_COMMAND, ID_AUTOGET_STOP, 0);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, "ただちに停止しますか？\n\n「いいえ」で現在のファイルを取得後に停止します。");
    EXPECT_EQ(prompter.shown[0].flags & (MB_TYPEMASK | MB_SYSTEMMODAL), static_cast<UINT>(MB_YESNO | MB_SYSTEMMODAL));
    EXPECT_FALSE(autoget_deferring());
    EXPECT_TRUE(menu_state(ID_AUTOGET_STOP) & MF_GRAYED);  // at once
    EXPECT_FALSE(button_enabled(ID_AUTOGET_STOP));

    release.open();
    ASSERT_TRUE(pump_until([] { return !autoget_run_in_progress(); }));
    EXPECT_EQ(items(), (std::vector<Item>{{0, 2, "http://h/1.txt"}, {0, 5, "http://h/2.txt"}}));
    EXPECT_EQ(prompter.shown.size(), 1u);  // no completion message
    EXPECT_EQ(proxy.requests().size(), 1u);
}

TEST_F(AutoGetWindowTest, StopAnsweredYesCutsTheTransfer) {
    Gate release;
    FakeProxy proxy([&](const std::string&) {
        release.wait();
        report_fetch_failed(1, nullptr);  // what the closed server socket gives
    });
    use_proxy(proxy);
    ASSERT_EQ(reserve("http://h/big.bin"), ReserveOutcome::added);
    settings.recStatusRetry = 5;
    SendMessageA(window, WM_COMMAND, ID_AUTOGET_START, 0);
    PageNode* node = self().page_tree().first_base();
    ASSERT_TRUE(pump_until([&] { return image_of(node) == 6; }));
    prompter.answer_yes = true;
    SendMessageA(window, WM_COMMAND, ID_AUTOGET_STOP, 0);
    release.open();
    ASSERT_TRUE(pump_until([] { return !autoget_run_in_progress(); }));
    EXPECT_EQ(node->error(), 100);
    EXPECT_EQ(image_of(node), 3);
    EXPECT_EQ(prompter.shown.size(), 1u);  // the question only
}

TEST_F(AutoGetWindowTest, AFailedNodeWaitsInYellowForItsRetry) {
    int refusals = 1;
    FakeProxy proxy([&](const std::string& block) {
        if (refusals-- > 0) {
            report_fetch_failed(1, nullptr);
            return;
        }
        record_page(save.path(), block.substr(4, block.find(" HTTP/1.0") - 4), "<p>", "text/html");
        report_fetch_done(200);
    });
    use_proxy(proxy);
    settings.recStatusRetry = 2;
    settings.recStatusRetryTimer = 700;
    ASSERT_EQ(reserve("http://h/flaky.html"), ReserveOutcome::added);
    PageNode* node = self().page_tree().first_base();
    SendMessageA(window, WM_COMMAND, ID_AUTOGET_START, 0);
    ASSERT_TRUE(pump_until([&] { return image_of(node) == 12; }));
    EXPECT_EQ(node->activity(), 2);
    ASSERT_TRUE(pump_until([] { return !autoget_run_in_progress(); }));
    EXPECT_EQ(image_of(node), 1);
    EXPECT_EQ(proxy.requests().size(), 2u);
}

TEST_F(AutoGetWindowTest, TheCrawlersAnswerWaitsWhileAContextMenuIsOpen) {
    Gate release;
    FakeProxy proxy([&](const std::string& block) {
        const std::string url = block.substr(4, block.find(" HTTP/1.0") - 4);
        if (url == "http://h/slow.html") release.wait();
        record_page(save.path(), url, "<img src='pic.gif'>", "text/html");
        report_fetch_done(200);
    });
    use_proxy(proxy);
    host.internet = false;
    ASSERT_EQ(reserve("http://h/done.html"), ReserveOutcome::added);
    ASSERT_EQ(reserve("http://h/slow.html"), ReserveOutcome::added);
    PageNode* done = self().page_tree().first_base();
    PageNode* slow = done->nextSibling();
    self().page_tree().toggle_skip(*slow);
    ASSERT_TRUE(run());  // done.html (and its picture) only
    self().page_tree().toggle_skip(*slow);
    ASSERT_EQ(image_of(done), 1);

    SendMessageA(window, WM_COMMAND, ID_AUTOGET_START, 0);
    ASSERT_TRUE(pump_until([&] { return image_of(slow) == 6; }));

    // A menu on the node being fetched does not open.
    select(slow);
    {
        MenuWatch watch(window);
        SendMessageA(window, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(tree), -1);
        Sleep(300);
        watch.finish();
        EXPECT_FALSE(watch.opened);
    }

    // While the menu on another node is open, the crawler's result waits.
    select(done);
    int image_during = -1;
    HTREEITEM child_during = nullptr;
    MenuWatch watch(window, 0, [&] {
        release.open();
        Sleep(700);  // the report arrives and is parked
        image_during = image_of(slow);
        child_during = TreeView_GetChild(tree, Win32PageTreeView::shown_item(*slow));
    });
    SendMessageA(window, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(tree), -1);
    watch.finish();
    EXPECT_TRUE(watch.opened);
    EXPECT_EQ(image_during, 6);
    EXPECT_EQ(child_during, nullptr);
    // What the menu offered for a finished node, offline.
    EXPECT_FALSE(watch.settings_grayed);
    EXPECT_FALSE(watch.reset_grayed);
    EXPECT_FALSE(watch.browse_grayed);
    EXPECT_EQ(watch.skip_text, "スキップ(&S)\tEsc");
    // Once it closed, the result went in.
    ASSERT_TRUE(pump_until([] { return !autoget_run_in_progress(); }));
    EXPECT_EQ(image_of(slow), 1);
    EXPECT_TRUE(slow->firstChild());
}

TEST_F(AutoGetWindowTest, MenuItemsFollowTheNode) {
    host.internet = true;
    ASSERT_EQ(reserve("http://h/a.html"), ReserveOutcome::added);
    PageNode* node = self().page_tree().first_base();
    self().page_tree().toggle_skip(*node);
    select(node);
    MenuWatch watch(window);
    SendMessageA(window, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(tree), -1);
    watch.finish();
    ASSERT_TRUE(watch.opened);
    EXPECT_TRUE(watch.reset_grayed);   // neither result nor error
    EXPECT_TRUE(watch.browse_grayed);  // online, and nothing fetched
    EXPECT_EQ(watch.skip_text, "スキップ解除(&S)\tEsc");

    // A command chosen from the menu acts on its node: 取得待機に戻す is
    // grayed, ツリーから削除 deletes.
    MenuWatch choose(window, 'D');
    SendMessageA(window, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(tree), -1);
    choose.finish();
    pump();
    EXPECT_TRUE(items().empty());
}

TEST_F(AutoGetWindowTest, TreeKeysActOnTheSelectedNode) {
    ASSERT_EQ(reserve("http://h/Alpha.html"), ReserveOutcome::added);
    ASSERT_EQ(reserve("http://h/beta.html"), ReserveOutcome::added);
    ASSERT_EQ(reserve("http://h/gamma.html"), ReserveOutcome::added);
    PageNode* alpha = self().page_tree().first_base();
    PageNode* beta = alpha->nextSibling();
    PageNode* gamma = beta->nextSibling();

    select(beta);
    EXPECT_EQ(press_in_tree(VK_ESCAPE), 1);
    EXPECT_EQ(image_of(beta), 13);
    press_in_tree(VK_ESCAPE);
    EXPECT_EQ(image_of(beta), 5);

    {
        HeldKeys control({VK_CONTROL});
        EXPECT_EQ(press_in_tree('C'), 1);
    }
    ASSERT_TRUE(OpenClipboard(window));
    HANDLE data = GetClipboardData(CF_TEXT);
    ASSERT_TRUE(data);
    EXPECT_STREQ(static_cast<const char*>(GlobalLock(data)), "http://h/beta.html");
    GlobalUnlock(data);
    CloseClipboard();
    // C alone does nothing.
    EXPECT_EQ(press_in_tree('C'), 0);

    // F3 repeats the saved search: downward, upward with Shift, with its case rule.
    settings.recScanString = "alpha";
    settings.recScanUplow = 0;
    select(gamma);
    {
        HeldKeys shift({VK_SHIFT});
        press_in_tree(VK_F3);
    }
    EXPECT_EQ(TreeView_GetSelection(tree), Win32PageTreeView::shown_item(*alpha));
    settings.recScanUplow = 1;
    select(gamma);
    {
        HeldKeys shift({VK_SHIFT});
        press_in_tree(VK_F3);
    }
    EXPECT_EQ(TreeView_GetSelection(tree), Win32PageTreeView::shown_item(*gamma));  // "Alpha" does not match case-sensitively
    settings.recScanString = "gamma";
    select(alpha);
    press_in_tree(VK_F3);
    EXPECT_EQ(TreeView_GetSelection(tree), Win32PageTreeView::shown_item(*gamma));
    settings.recScanString.clear();
    EXPECT_EQ(press_in_tree(VK_F3), 0);

    select(beta);
    EXPECT_EQ(press_in_tree(VK_DELETE), 1);
    EXPECT_EQ(items(), (std::vector<Item>{{0, 5, "http://h/Alpha.html"}, {0, 5, "http://h/gamma.html"}}));
}

TEST_F(AutoGetWindowTest, KeysDoNothingOnTheNodeBeingFetchedAndDeletingItsTreeIsRefused) {
    Gate release;
    FakeProxy proxy([&](const std::string& block) {
        release.wait();
        record_page(save.path(), block.substr(4, block.find(" HTTP/1.0") - 4), "<a href='c.html'>", "text/html");
        report_fetch_done(200);
    });
    use_proxy(proxy);
    settings.recStatusLink = 2;
    ASSERT_EQ(reserve("http://h/"), ReserveOutcome::added);
    PageNode* base = self().page_tree().first_base();
    const ParsedUrl child_url = parse_url("http://h/c.html").value();
    PageNode* child = self().page_tree().add_child(true, base, &child_url, nullptr);
    self().page_tree().record_fetch_result(*base, 2);  // expanded already: the child comes next
    SendMessageA(window, WM_COMMAND, ID_AUTOGET_START, 0);
    ASSERT_TRUE(pump_until([&] { return image_of(child) == 6; }));

    select(child);
    EXPECT_EQ(press_in_tree(VK_DELETE), 0);
    EXPECT_EQ(press_in_tree(VK_ESCAPE), 0);
    EXPECT_EQ(items().size(), 2u);
    select(base);
    EXPECT_EQ(press_in_tree(VK_DELETE), 1);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, "取得中のツリーです");
    EXPECT_EQ(prompter.shown[0].flags & MB_ICONMASK, static_cast<UINT>(MB_ICONINFORMATION));
    EXPECT_EQ(items().size(), 2u);
    release.open();
    ASSERT_TRUE(pump_until([] { return !autoget_run_in_progress(); }));
}

int g_closes = 0;

LRESULT CALLBACK count_closes(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_CLOSE) {
        ++g_closes;
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

TEST_F(AutoGetWindowTest, TheEndOfARunDuringTheCloseSequenceClosesTheMainWindowSilently) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = &count_closes;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "VellumTestMainStandIn";
    RegisterClassA(&wc);
    host.main = CreateWindowA(wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);

    Gate never;  // the proxy never reports: it stopped taking connections
    FakeProxy proxy([&](const std::string&) { never.wait(); });
    use_proxy(proxy);
    ASSERT_EQ(reserve("http://h/lost.html"), ReserveOutcome::added);
    SendMessageA(window, WM_COMMAND, ID_AUTOGET_START, 0);
    PageNode* node = self().page_tree().first_base();
    ASSERT_TRUE(pump_until([&] { return image_of(node) == 6 && proxy.requests().size() == 1; }));

    host.closing = true;
    post_to_crawler(CRM_STOP);
    ASSERT_TRUE(pump_until([] { return !autoget_run_in_progress(); }));
    EXPECT_TRUE(pump_until([] { return g_closes == 1; }));
    EXPECT_TRUE(prompter.shown.empty());
    never.open();
    DestroyWindow(host.main);
}

}  // namespace
}  // namespace vellum
