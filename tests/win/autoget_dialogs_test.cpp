// The auto-get window's three dialogs on the real auto-get window (and on
// the whole program where its close is concerned), opened as the user opens
// them (the tree's Enter, double click and Ctrl+F, the start command) and
// driven through their controls from a second thread: the settings of one
// base URL with its folder button, the start dialog with its schedule wait
// on a clock the test sets, and the URL search.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "autoget/autoget_window.h"
#include "autoget/start_schedule_win.h"
#include "base/clock.h"
#include "base/folder_chooser_win.h"
#include "base/icons_win.h"
#include "base/prompt.h"
#include "resources/resource.h"
#include "shell/settings.h"
#include "tests/support/fake_proxy_win.h"
#include "tests/support/program_session_win.h"
#include "tests/support/temp_folder_win.h"
#include "tests/support/ui_driver_win.h"

namespace vellum {
namespace {

using testing::UiDriver;

constexpr char kJobTitle[] = "自動取得の設定";
constexpr char kStartTitle[] = "自動取得スタート";
constexpr char kSearchTitle[] = "URL検索";
constexpr char kFolderTitle[] = "自動取得の保存先を指定してください";
constexpr char kFolderNameTitle[] = "作成するフォルダ名を入力して下さい";

// A clock the test moves; read by the start dialog's ticks on the UI thread.
class SetClock : public Clock {
public:
    FileTime now_utc() const override { return now.load(); }
    // The UTC time of a local time of day on a fixed date.
    void set_local(WORD day, WORD hour, WORD minute, WORD second) {
        SYSTEMTIME local{2026, 3, 0, day, hour, minute, second, 0};
        SYSTEMTIME utc{};
        TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc);
        FILETIME file{};
        SystemTimeToFileTime(&utc, &file);
        now = (static_cast<FileTime>(file.dwHighDateTime) << 32) | file.dwLowDateTime;
    }
    std::atomic<FileTime> now{0};
};

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

// Waits until a control's text reads `text`; false after a long while.
bool wait_text(HWND dialog, int id, const std::string& text) {
    return UiDriver::wait_for([&]() -> HWND { return UiDriver::text(dialog, id) == text ? dialog : nullptr; }) !=
           nullptr;
}

// A child window of `parent` (at any depth) showing `text`.
bool shows_text(HWND parent, const std::string& text) {
    struct Search {
        const std::string& text;
        bool found = false;
    } search{text};
    EnumChildWindows(
        parent,
        [](HWND child, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<Search*>(param);
            char buffer[512] = {};
            GetWindowTextA(child, buffer, sizeof buffer);
            if (s->text == buffer) s->found = true;
            return !s->found;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Copies a window as the screen shows it into a 24-bit BMP file.
bool save_window_picture(HWND window, const std::string& path) {
    RECT rect{};
    GetWindowRect(window, &rect);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    const DWORD row = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    std::vector<char> bits(static_cast<std::size_t>(row) * height);
    GetDIBits(memory, bitmap, 0, height, bits.data(), reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(bits.size());
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return false;
    std::fwrite(&file, sizeof file, 1, out);
    std::fwrite(&info, sizeof info, 1, out);
    std::fwrite(bits.data(), 1, bits.size(), out);
    return std::fclose(out) == 0;
}

// What the tests do to the auto-get window, on either fixture below.
template <class Base>
class AutoGetSteps : public Base {
protected:
    PageTree& pages() { return AutoGetWindow::existing()->page_tree(); }

    PageNode* reserve(const std::string& url) {
        ProxyRequest request;
        request.method = "GET";
        request.url = url;
        request.parsed_url = parse_url(url).value();
        if (autoget_reserve(autoget, request, save.path()) != ReserveOutcome::added) return nullptr;
        PageNode* node = pages().first_base();
        while (node && node->nextSibling()) node = node->nextSibling();
        return node;
    }

    void select(PageNode* node) { TreeView_SelectItem(tree, AutoGetWindow::existing()->tree_adapter().make_item(*node)); }
    LRESULT press_in_tree(WORD key) {
        NMTVKEYDOWN down{};
        down.hdr = NMHDR{tree, IDC_PAGE_TREE, static_cast<UINT>(TVN_KEYDOWN)};
        down.wVKey = key;
        return SendMessageA(autoget, WM_NOTIFY, IDC_PAGE_TREE, reinterpret_cast<LPARAM>(&down));
    }
    void double_click_in_tree() {
        NMHDR header{tree, IDC_PAGE_TREE, static_cast<UINT>(NM_DBLCLK)};
        SendMessageA(autoget, WM_NOTIFY, IDC_PAGE_TREE, reinterpret_cast<LPARAM>(&header));
    }
    // The start command, as the menu sends it; returns when its dialog has
    // closed.
    void start_command() { SendMessageA(autoget, WM_COMMAND, ID_AUTOGET_START, 0); }

    testing::TempFolder save;
    HWND autoget = nullptr;
    HWND tree = nullptr;
};

// The crawler's side of the program, as far as a run over an empty tree
// needs it.
class StandInHost : public AutoGetHost {
public:
    HWND main_window() const override { return nullptr; }
    bool program_closing() const override { return false; }
    bool internet_on() const override { return false; }
    std::optional<ProxyEndpoint> proxy_endpoint() const override { return endpoint; }
    ConnectionRegistry* connections() override { return nullptr; }
    std::optional<ProxyEndpoint> endpoint;
};

// The auto-get window alone, hidden, as the program makes it, keeping its
// settings in `settings`.
class AutoGetDialogsTest : public AutoGetSteps<::testing::Test> {
protected:
    static void SetUpTestSuite() {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_TREEVIEW_CLASSES | ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        load_small_icons(GetModuleHandleA(nullptr));
        ASSERT_TRUE(register_autoget_window_class(GetModuleHandleA(nullptr)));
    }
    void SetUp() override {
        previous_ = set_prompter(&prompter);
        host.endpoint = ProxyEndpoint{INADDR_LOOPBACK, proxy.port()};
        autoget = create_autoget_window(GetModuleHandleA(nullptr), settings, host);
        ASSERT_TRUE(autoget);
        tree = AutoGetWindow::existing()->tree_view();
    }
    void TearDown() override {
        set_clock(nullptr);
        pump_until([] { return !autoget_run_in_progress(); });
        if (IsWindow(autoget)) DestroyWindow(autoget);
        set_prompter(previous_);
    }
    void pump() {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    bool pump_until(const std::function<bool()>& done, DWORD limit_ms = 20000) {
        const ULONGLONG start = GetTickCount64();
        for (;;) {
            pump();
            if (done()) return true;
            if (GetTickCount64() - start > limit_ms) return false;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
    }

    bool shown(const std::string& text) const {
        for (const auto& box : prompter.shown) {
            if (box.text == text) return true;
        }
        return false;
    }

    testing::WinsockSession winsock;
    testing::FakeProxy proxy{[](const std::string&) {}};
    AutoGetSettings settings;
    StandInHost host;
    testing::RecordingPrompter prompter;

private:
    Prompter* previous_ = nullptr;
};

// The whole program, for what the start dialog's wait does to its close.
class ScheduleWaitTest : public AutoGetSteps<testing::ProgramSession> {
protected:
    void SetUp() override {
        ProgramSession::SetUp();
        static int next_port = 28601;
        ASSERT_TRUE(start("127.0.0.1:" + std::to_string(next_port++)));
        autoget = autoget_window();
        ASSERT_TRUE(autoget);
        tree = AutoGetWindow::existing()->tree_view();
    }
    void TearDown() override {
        set_clock(nullptr);
        ProgramSession::TearDown();
    }
};

// --- settings of one base URL ----------------------------------------------------------

TEST_F(AutoGetDialogsTest, JobDialogShowsTheJobAndOkTakesEveryControl) {
    settings.recStatusModify = 1;
    settings.recStatusLimit = 0;
    settings.recStatusLink = 3;
    settings.recStatusRetry = 2;
    settings.recStatusRetryTimer = 30000;
    PageNode* base = reserve("http://h.example/dir/page.html?q=1");
    ASSERT_TRUE(base);
    const ParsedUrl child_url = parse_url("http://h.example/dir/a.html").value();
    PageNode* child = pages().add_child(true, base, &child_url, nullptr);
    ASSERT_TRUE(child);

    UiDriver user([&](UiDriver& u) {
        HWND d = u.wait_dialog(kJobTitle);
        ASSERT_TRUE(d);
        for (const char* label : {"基点URL", "リンク深度", "保存フォルダ", "取得制限", "スキップ拡張子", "更新チェック",
                                  "リトライ回数", "リトライ間隔"}) {
            EXPECT_TRUE(shows_text(d, label)) << label;
        }
        EXPECT_EQ(u.text(d, IDC_JOB_CHANGE_FOLDER), "変更");
        EXPECT_EQ(u.text(d, IDC_JOB_RESTRICT_ALL), "リンク先以外にも適用する");
        EXPECT_EQ(u.text(d, IDC_JOB_REQUISITES), "ページの表示に必要なファイルも取得する");
        EXPECT_EQ(u.text(d, IDC_JOB_UPDATE_NEVER), "しない");
        EXPECT_EQ(u.text(d, IDC_JOB_UPDATE_HTML), "HTMLファイルのみする");
        EXPECT_EQ(u.text(d, IDC_JOB_UPDATE_ALWAYS), "する");
        EXPECT_EQ(u.text(d, IDOK), "OK");
        EXPECT_EQ(u.text(d, IDCANCEL), "キャンセル");
        EXPECT_EQ(u.text(d, IDC_JOB_BASE_URL), "http://h.example/dir/page.html?q=1");
        const std::vector<std::string> depths = u.list_items(d, IDC_JOB_DEPTH);
        ASSERT_EQ(depths.size(), 101u);
        EXPECT_EQ(depths.front(), "0");
        EXPECT_EQ(depths.back(), "100");
        EXPECT_EQ(u.list_selection(d, IDC_JOB_DEPTH), 3);
        EXPECT_EQ(u.text(d, IDC_JOB_SAVE_FOLDER), save.path());
        EXPECT_EQ(u.text(d, IDC_JOB_RESTRICTIONS), "http://h.example/dir/\r\n");
        EXPECT_FALSE(u.checked(d, IDC_JOB_RESTRICT_ALL));
        EXPECT_FALSE(u.checked(d, IDC_JOB_REQUISITES));
        EXPECT_EQ(u.text(d, IDC_JOB_SKIP_EXTENSIONS), "");
        EXPECT_FALSE(u.checked(d, IDC_JOB_UPDATE_NEVER));
        EXPECT_TRUE(u.checked(d, IDC_JOB_UPDATE_HTML));
        EXPECT_FALSE(u.checked(d, IDC_JOB_UPDATE_ALWAYS));
        EXPECT_EQ(u.list_items(d, IDC_JOB_RETRY_COUNT).size(), 11u);
        EXPECT_EQ(u.list_selection(d, IDC_JOB_RETRY_COUNT), 2);
        EXPECT_EQ(u.list_items(d, IDC_JOB_RETRY_INTERVAL), (std::vector<std::string>{"5秒", "30秒", "1分"}));
        EXPECT_EQ(u.list_selection(d, IDC_JOB_RETRY_INTERVAL), 1);

        u.choose(d, IDC_JOB_DEPTH, 7);
        u.click(d, IDC_JOB_RESTRICT_ALL);
        u.click(d, IDC_JOB_REQUISITES);
        u.click(d, IDC_JOB_UPDATE_ALWAYS);
        u.choose(d, IDC_JOB_RETRY_COUNT, 10);
        u.choose(d, IDC_JOB_RETRY_INTERVAL, 2);
        u.type(d, IDC_JOB_RESTRICTIONS, "http://a.example/\r\n\r\nhttp://b.example/x\n");
        u.type(d, IDC_JOB_SKIP_EXTENSIONS, "gif\r\nJPG\r\n\r\n");
        u.click(d, IDOK);
    });
    select(child);  // any node of the base URL edits its job
    EXPECT_EQ(press_in_tree(VK_RETURN), 1);
    user.join();

    const AutoGetJob& job = *base->job();
    EXPECT_EQ(child->job(), base->job());
    EXPECT_EQ(job.baseUrl, "http://h.example/dir/page.html?q=1");
    EXPECT_EQ(job.saveFolder, save.path());
    EXPECT_EQ(job.maxDepth, 7);
    EXPECT_EQ(job.restrictAll, 1);
    EXPECT_EQ(job.pageRequisites, 1);
    EXPECT_EQ(job.updateCheck, 2);
    EXPECT_EQ(job.retryCount, 10);
    EXPECT_EQ(job.retryInterval, 60000);
    EXPECT_EQ(job.restrictions, (LineList{"http://a.example/", "http://b.example/x"}));
    EXPECT_EQ(job.skipExtensions, (LineList{"gif", "JPG"}));
    // The next reservation starts from what was chosen here.
    EXPECT_EQ(settings.recStatusModify, 2u);
    EXPECT_EQ(settings.recStatusLimit, 1u);
    EXPECT_EQ(settings.recStatusLink, 7u);
    EXPECT_EQ(settings.recStatusRetry, 10u);
    EXPECT_EQ(settings.recStatusRetryTimer, 60000u);
    EXPECT_EQ(settings.recStatusRequisites, 1u);
    EXPECT_TRUE(prompter.shown.empty());
}

TEST_F(AutoGetDialogsTest, AnOddRetryIntervalStaysAndEmptiedRestrictionsComeBackAsTheDefaultLine) {
    PageNode* base = reserve("http://h.example/dir/page.html");
    ASSERT_TRUE(base);
    base->job()->retryInterval = 10000;

    UiDriver first([&](UiDriver& u) {
        HWND d = u.wait_dialog(kJobTitle);
        ASSERT_TRUE(d);
        EXPECT_EQ(u.list_selection(d, IDC_JOB_RETRY_INTERVAL), -1) << "no entry for 10 seconds";
        u.type(d, IDC_JOB_RESTRICTIONS, "");
        u.click(d, IDOK);
    });
    select(base);
    press_in_tree(VK_RETURN);
    first.join();
    EXPECT_EQ(base->job()->retryInterval, 10000);
    EXPECT_EQ(settings.recStatusRetryTimer, 10000u);
    ASSERT_TRUE(base->job()->restrictions.has_value());
    EXPECT_TRUE(base->job()->restrictions->empty()) << "every hyperlink is skipped now";

    std::string shown;
    UiDriver second([&](UiDriver& u) {
        HWND d = u.wait_dialog(kJobTitle);
        ASSERT_TRUE(d);
        shown = u.text(d, IDC_JOB_RESTRICTIONS);
        u.click(d, IDCANCEL);
    });
    double_click_in_tree();
    second.join();
    EXPECT_EQ(shown, "http://h.example/dir/\r\n");
    EXPECT_TRUE(base->job()->restrictions->empty()) << "cancel keeps the emptied list";
}

TEST_F(AutoGetDialogsTest, CancellingTheJobDialogAfterChangingEveryControlChangesNothing) {
    PageNode* base = reserve("http://h.example/dir/");
    ASSERT_TRUE(base);
    base->job()->skipExtensions = LineList{"zip"};
    const AutoGetJob before = *base->job();
    const AutoGetSettings settings_before = settings;

    UiDriver user([&](UiDriver& u) {
        HWND d = u.wait_dialog(kJobTitle);
        ASSERT_TRUE(d);
        u.choose(d, IDC_JOB_DEPTH, 50);
        u.click(d, IDC_JOB_RESTRICT_ALL);
        u.click(d, IDC_JOB_REQUISITES);
        u.click(d, IDC_JOB_UPDATE_NEVER);
        u.click(d, IDC_JOB_UPDATE_ALWAYS);
        u.choose(d, IDC_JOB_RETRY_COUNT, 0);
        u.choose(d, IDC_JOB_RETRY_INTERVAL, 2);
        u.type(d, IDC_JOB_RESTRICTIONS, "http://other/\r\n");
        u.type(d, IDC_JOB_SKIP_EXTENSIONS, "");
        u.click(d, IDCANCEL);
    });
    select(base);
    press_in_tree(VK_RETURN);
    user.join();
    EXPECT_EQ(*base->job(), before);
    EXPECT_EQ(settings, settings_before);
}

TEST_F(AutoGetDialogsTest, TheFolderButtonAndTheReopenRequestReplaceTheSaveFolder) {
    const std::string root = save.path() + "\\root";
    const std::string start = root + "\\start";
    ASSERT_TRUE(CreateDirectoryA(root.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(start.c_str(), nullptr));
    PageNode* base = reserve("http://h.example/");
    ASSERT_TRUE(base);
    base->job()->saveFolder = start;

    std::string after_first, after_create;
    UiDriver user([&](UiDriver& u) {
        HWND d = u.wait_dialog(kJobTitle);
        ASSERT_TRUE(d);
        // A click that opens a modal window: posted, as the user's click arrives.
        PostMessageA(d, WM_COMMAND, MAKEWPARAM(IDC_JOB_CHANGE_FOLDER, BN_CLICKED), 0);
        HWND browser = u.wait_browser(d);
        ASSERT_TRUE(browser);
        EXPECT_TRUE(shows_text(browser, kFolderTitle));
        HWND tree = u.tree_of(browser);
        EXPECT_EQ(u.label(tree, u.selected(tree)), "start") << "opens at the job's folder";
        u.select(tree, u.parent(tree, u.selected(tree)));
        u.click(browser, IDOK);
        ASSERT_TRUE(u.wait_gone(browser));
        after_first = u.text(d, IDC_JOB_SAVE_FOLDER);

        // A folder made in the browser: it closes itself and the dialog opens
        // it again with the new folder selected.
        PostMessageA(d, WM_COMMAND, MAKEWPARAM(IDC_JOB_CHANGE_FOLDER, BN_CLICKED), 0);
        browser = u.wait_browser(d);
        ASSERT_TRUE(browser);
        tree = u.tree_of(browser);
        u.right_click(tree, u.label_point(tree, u.selected(tree)));
        ASSERT_TRUE(u.wait_menu());
        u.choose_menu_item(browser, 0);
        HWND name = u.wait_dialog(kFolderNameTitle);
        ASSERT_TRUE(name);
        u.type(name, IDC_FOLDER_NAME, "made");
        u.click(name, IDOK);
        HWND again = UiDriver::wait_for([&]() -> HWND {
            for (HWND w : u.windows("#32770")) {
                if (w != d && w != browser && IsWindow(w) && u.tree_of(w)) return w;
            }
            return nullptr;
        });
        ASSERT_TRUE(again);
        EXPECT_TRUE(shows_text(again, kFolderTitle));
        HWND tree_again = u.tree_of(again);
        EXPECT_EQ(u.label(tree_again, u.selected(tree_again)), "made");
        u.click(again, IDOK);
        ASSERT_TRUE(u.wait_gone(again));
        after_create = u.text(d, IDC_JOB_SAVE_FOLDER);
        u.click(d, IDOK);
    });
    select(base);
    press_in_tree(VK_RETURN);
    user.join();
    EXPECT_EQ(after_first, root);
    EXPECT_EQ(after_create, root + "\\made");
    EXPECT_EQ(base->job()->saveFolder, root + "\\made");
    EXPECT_TRUE(prompter.shown.empty());
}

// --- start ---------------------------------------------------------------------------------

TEST_F(AutoGetDialogsTest, StartDialogShowsTheOptionsAndStartsWithEveryControl) {
    settings.recStart = AutoGetStart{};
    settings.recStart.hour = 5;
    settings.recStart.minute = 30;
    UiDriver user([](UiDriver& u) {
        HWND d = u.wait_dialog(kStartTitle);
        ASSERT_TRUE(d);
        EXPECT_EQ(u.text(d, IDC_START_LINK_ONLY), "リンク構造のみ取得");
        EXPECT_EQ(u.text(d, IDC_START_EXT_LABEL), "判別拡張子");
        EXPECT_EQ(u.text(d, IDC_START_HANG_UP), "自動ダイアルアップ切断");
        EXPECT_EQ(u.text(d, IDC_START_NOW), "今すぐスタート");
        EXPECT_EQ(u.text(d, IDC_START_SCHEDULED), "指定の時刻になったらスタート");
        EXPECT_EQ(u.text(d, IDCANCEL), "キャンセル");
        EXPECT_TRUE(GetWindowLongA(GetDlgItem(d, IDC_START_NOW), GWL_STYLE) & BS_DEFPUSHBUTTON);
        const std::vector<std::string> hours = u.list_items(d, IDC_START_HOUR);
        ASSERT_EQ(hours.size(), 24u);
        EXPECT_EQ(hours.front(), "0時");
        EXPECT_EQ(hours.back(), "23時");
        const std::vector<std::string> minutes = u.list_items(d, IDC_START_MINUTE);
        ASSERT_EQ(minutes.size(), 60u);
        EXPECT_EQ(minutes.front(), "0分");
        EXPECT_EQ(minutes.back(), "59分");
        EXPECT_EQ(u.list_selection(d, IDC_START_HOUR), 5);
        EXPECT_EQ(u.list_selection(d, IDC_START_MINUTE), 30);
        EXPECT_FALSE(u.checked(d, IDC_START_LINK_ONLY));
        EXPECT_FALSE(u.checked(d, IDC_START_HANG_UP));
        EXPECT_EQ(u.text(d, IDC_START_EXTENSIONS), "html\r\nhtm\r\nshtml\r\n");
        EXPECT_EQ(u.text(d, IDC_START_CLOCK), "");
        EXPECT_FALSE(u.enabled(d, IDC_START_EXT_LABEL));
        EXPECT_FALSE(u.enabled(d, IDC_START_EXTENSIONS));
        u.click(d, IDC_START_LINK_ONLY);
        EXPECT_TRUE(u.enabled(d, IDC_START_EXT_LABEL));
        EXPECT_TRUE(u.enabled(d, IDC_START_EXTENSIONS));
        u.click(d, IDC_START_HANG_UP);
        u.choose(d, IDC_START_HOUR, 0);
        u.choose(d, IDC_START_MINUTE, 59);
        u.type(d, IDC_START_EXTENSIONS, "html\r\n\r\nPHP\n");
        PostMessageA(d, WM_COMMAND, MAKEWPARAM(IDC_START_NOW, BN_CLICKED), 0);
    });
    start_command();
    user.join();
    EXPECT_TRUE(autoget_run_in_progress() || shown("リンク構造取得を終了しました。"));
    ASSERT_TRUE(pump_until([] { return !autoget_run_in_progress(); }));
    EXPECT_EQ(settings.recStart.linkOnly, 1u);
    EXPECT_EQ(settings.recStart.hangUp, 1u);
    EXPECT_EQ(settings.recStart.hour, 0u);
    EXPECT_EQ(settings.recStart.minute, 59u);
    EXPECT_EQ(settings.recStart.linkExtensions, (LineList{"html", "PHP"}));
    // An empty tree: the link-structure run ends at once.
    EXPECT_TRUE(shown("リンク構造取得を終了しました。"));
}

TEST_F(AutoGetDialogsTest, CancellingTheStartDialogAfterChangingEveryControlStartsNothing) {
    const AutoGetStart before = settings.recStart;
    UiDriver user([](UiDriver& u) {
        HWND d = u.wait_dialog(kStartTitle);
        ASSERT_TRUE(d);
        u.click(d, IDC_START_LINK_ONLY);
        u.click(d, IDC_START_HANG_UP);
        u.choose(d, IDC_START_HOUR, 3);
        u.choose(d, IDC_START_MINUTE, 4);
        u.type(d, IDC_START_EXTENSIONS, "cgi\r\n");
        u.click(d, IDCANCEL);
    });
    start_command();
    user.join();
    pump();
    EXPECT_FALSE(autoget_run_in_progress());
    EXPECT_EQ(settings.recStart, before);
    EXPECT_TRUE(prompter.shown.empty());
}

TEST_F(AutoGetDialogsTest, TheScheduleWaitStartsOnTheFirstTickAfterMidnightAndNotBefore) {
    SetClock clock;
    clock.set_local(10, 23, 59, 30);
    set_clock(&clock);
    settings.recStart.hour = 0;
    settings.recStart.minute = 0;
    bool started_early = true;
    UiDriver user([&](UiDriver& u) {
        HWND d = u.wait_dialog(kStartTitle);
        ASSERT_TRUE(d);
        u.click(d, IDC_START_SCHEDULED);
        EXPECT_FALSE(u.enabled(d, IDC_START_SCHEDULED));
        EXPECT_EQ(u.text(d, IDC_START_CLOCK), "23:59:30");
        clock.set_local(10, 23, 59, 59);
        ASSERT_TRUE(wait_text(d, IDC_START_CLOCK, "23:59:59")) << "a tick shows the time";
        // Still the day before: a few more ticks, and the dialog waits on.
        Sleep(1100);
        started_early = !IsWindowVisible(d);
        clock.set_local(11, 0, 0, 0);
        EXPECT_TRUE(u.wait_gone(d)) << "the first tick of 0:00 starts";
    });
    start_command();
    user.join();
    EXPECT_FALSE(started_early);
    ASSERT_TRUE(pump_until([] { return !autoget_run_in_progress(); }));
    EXPECT_TRUE(shown("自動取得を終了しました。"));
    EXPECT_FALSE(autoget_schedule_waiting());
}

TEST_F(AutoGetDialogsTest, AScheduleForTheCurrentMinuteStartsOnTheFirstTick) {
    SetClock clock;
    clock.set_local(10, 12, 34, 56);
    set_clock(&clock);
    settings.recStart.hour = 12;
    settings.recStart.minute = 34;
    UiDriver user([&](UiDriver& u) {
        HWND d = u.wait_dialog(kStartTitle);
        ASSERT_TRUE(d);
        u.click(d, IDC_START_SCHEDULED);
        EXPECT_EQ(u.text(d, IDC_START_CLOCK), "12:34:56") << "the wait shows the time before its first tick";
        EXPECT_TRUE(u.wait_gone(d));
    });
    start_command();
    user.join();
    ASSERT_TRUE(pump_until([] { return !autoget_run_in_progress(); }));
    EXPECT_TRUE(shown("自動取得を終了しました。"));
}

TEST_F(ScheduleWaitTest, ExitIsRefusedDuringTheWaitAndAllowedAfterCancel) {
    SetClock clock;
    clock.set_local(10, 12, 0, 0);
    set_clock(&clock);
    settings().recStart.hour = 23;
    settings().recStart.minute = 0;
    bool waiting_during = false, waiting_after = true, main_stayed = false, button_back = false;
    std::string clock_after = "?";
    HWND main_window = window;
    UiDriver user([&](UiDriver& u) {
        HWND d = u.wait_dialog(kStartTitle);
        ASSERT_TRUE(d);
        u.click(d, IDC_START_SCHEDULED);
        waiting_during = autoget_schedule_waiting();
        // The program's close (its menu, the tray), refused while it waits.
        SendMessageA(main_window, WM_CLOSE, 0, 0);
        main_stayed = IsWindow(main_window) && IsWindow(d);
        // キャンセル ends the wait; the dialog stays.
        u.click(d, IDCANCEL);
        waiting_after = autoget_schedule_waiting();
        button_back = u.enabled(d, IDC_START_SCHEDULED);
        clock_after = u.text(d, IDC_START_CLOCK);
        EXPECT_TRUE(IsWindowVisible(d));
        u.click(d, IDCANCEL);
    });
    start_command();
    user.join();
    EXPECT_TRUE(waiting_during);
    EXPECT_TRUE(main_stayed);
    EXPECT_FALSE(waiting_after);
    EXPECT_TRUE(button_back);
    EXPECT_EQ(clock_after, "");
    EXPECT_FALSE(autoget_run_in_progress());
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, "自動取得タイマー作動中です！");
    EXPECT_EQ(prompter.shown[0].flags & (MB_ICONMASK | MB_SYSTEMMODAL),
              static_cast<UINT>(MB_ICONWARNING | MB_SYSTEMMODAL));
    EXPECT_TRUE(close_program());
    EXPECT_EQ(prompter.shown.size(), 1u);
}

TEST_F(ScheduleWaitTest, TheProgramsCloseDuringADialogCancelsItAndClosesAfterwards) {
    // The close arrives while the start dialog runs inside the auto-get
    // window's command: the dialog is cancelled, the command returns, and
    // only then do the windows go.
    bool dialog_was_up = false, dialog_gone = false;
    HWND main_window = window;
    UiDriver user([&](UiDriver& u) {
        HWND d = u.wait_dialog(kStartTitle);
        dialog_was_up = d != nullptr;
        PostMessageA(main_window, WM_CLOSE, 0, 0);
        for (int waited = 0; waited < 200 && IsWindow(d); ++waited) Sleep(50);
        dialog_gone = !IsWindow(d);
    });
    start_command();
    const bool autoget_alive_after_command = IsWindow(autoget) != FALSE;
    user.join();
    EXPECT_TRUE(dialog_was_up);
    EXPECT_TRUE(dialog_gone);
    EXPECT_TRUE(autoget_alive_after_command);
    EXPECT_FALSE(autoget_run_in_progress());
    EXPECT_TRUE(pump_until([&] { return quit_seen && !IsWindow(main_window); }));
    EXPECT_TRUE(prompter.shown.empty());
}

// --- URL search -------------------------------------------------------------------------

TEST_F(AutoGetDialogsTest, SearchStoresTheTextAndGoesEitherWayFromTheNode) {
    PageNode* alpha = reserve("http://h/Alpha.html");
    PageNode* beta = reserve("http://h/beta.html");
    PageNode* gamma = reserve("http://h/gamma.html");
    ASSERT_TRUE(alpha && beta && gamma);
    settings.recScanString = "old";
    settings.recScanUplow = 1;

    // Ctrl+F on alpha: the last search is shown; ↓ ignoring case finds gamma.
    UiDriver down([](UiDriver& u) {
        HWND d = u.wait_dialog(kSearchTitle);
        ASSERT_TRUE(d);
        EXPECT_TRUE(shows_text(d, "検索文字"));
        EXPECT_EQ(u.text(d, IDC_SEARCH_CASE), "大文字と小文字を区別する");
        EXPECT_EQ(u.text(d, IDC_SEARCH_DOWN), "↓");
        EXPECT_EQ(u.text(d, IDC_SEARCH_UP), "↑");
        EXPECT_EQ(u.text(d, IDCANCEL), "キャンセル");
        EXPECT_TRUE(GetWindowLongA(GetDlgItem(d, IDC_SEARCH_DOWN), GWL_STYLE) & BS_DEFPUSHBUTTON);
        EXPECT_EQ(u.text(d, IDC_SEARCH_TEXT), "old");
        EXPECT_TRUE(u.checked(d, IDC_SEARCH_CASE));
        u.type(d, IDC_SEARCH_TEXT, "GAMMA");
        u.click(d, IDC_SEARCH_CASE);
        PostMessageA(d, WM_COMMAND, MAKEWPARAM(IDC_SEARCH_DOWN, BN_CLICKED), 0);
    });
    select(alpha);
    {
        HeldKeys control({VK_CONTROL});
        EXPECT_EQ(press_in_tree('F'), 1);
    }
    down.join();
    EXPECT_EQ(settings.recScanString, "GAMMA");
    EXPECT_EQ(settings.recScanUplow, 0u);
    EXPECT_EQ(TreeView_GetSelection(tree), Win32PageTreeView::shown_item(*gamma));
    EXPECT_EQ(GetFocus(), tree);

    // ↑ case-sensitively from gamma: "alpha" is not "Alpha".
    UiDriver up_exact([](UiDriver& u) {
        HWND d = u.wait_dialog(kSearchTitle);
        ASSERT_TRUE(d);
        u.type(d, IDC_SEARCH_TEXT, "alpha");
        u.click(d, IDC_SEARCH_CASE);
        PostMessageA(d, WM_COMMAND, MAKEWPARAM(IDC_SEARCH_UP, BN_CLICKED), 0);
    });
    {
        HeldKeys control({VK_CONTROL});
        press_in_tree('F');
    }
    up_exact.join();
    EXPECT_EQ(settings.recScanString, "alpha");
    EXPECT_EQ(settings.recScanUplow, 1u);
    EXPECT_EQ(TreeView_GetSelection(tree), Win32PageTreeView::shown_item(*gamma)) << "no match, nothing changes";

    // F3 and Shift+F3 repeat the stored search without the dialog.
    settings.recScanUplow = 0;
    {
        HeldKeys shift({VK_SHIFT});
        press_in_tree(VK_F3);
    }
    EXPECT_EQ(TreeView_GetSelection(tree), Win32PageTreeView::shown_item(*alpha));

    // An empty text is stored too, and searches nothing.
    UiDriver empty([](UiDriver& u) {
        HWND d = u.wait_dialog(kSearchTitle);
        ASSERT_TRUE(d);
        u.type(d, IDC_SEARCH_TEXT, "");
        PostMessageA(d, WM_COMMAND, MAKEWPARAM(IDC_SEARCH_DOWN, BN_CLICKED), 0);
    });
    {
        HeldKeys control({VK_CONTROL});
        press_in_tree('F');
    }
    empty.join();
    EXPECT_EQ(settings.recScanString, "");
    EXPECT_EQ(TreeView_GetSelection(tree), Win32PageTreeView::shown_item(*alpha));
    EXPECT_EQ(press_in_tree(VK_F3), 0);
}

TEST_F(AutoGetDialogsTest, CancellingTheSearchStoresNothingAndALongTextIsCut) {
    PageNode* node = reserve("http://h/page.html");
    ASSERT_TRUE(node);
    settings.recScanString = "kept";
    settings.recScanUplow = 0;
    UiDriver cancel([](UiDriver& u) {
        HWND d = u.wait_dialog(kSearchTitle);
        ASSERT_TRUE(d);
        u.type(d, IDC_SEARCH_TEXT, "changed");
        u.click(d, IDC_SEARCH_CASE);
        u.click(d, IDCANCEL);
    });
    select(node);
    {
        HeldKeys control({VK_CONTROL});
        press_in_tree('F');
    }
    cancel.join();
    EXPECT_EQ(settings.recScanString, "kept");
    EXPECT_EQ(settings.recScanUplow, 0u);

    UiDriver long_text([](UiDriver& u) {
        HWND d = u.wait_dialog(kSearchTitle);
        ASSERT_TRUE(d);
        u.type(d, IDC_SEARCH_TEXT, std::string(300, 'a'));
        PostMessageA(d, WM_COMMAND, MAKEWPARAM(IDC_SEARCH_DOWN, BN_CLICKED), 0);
    });
    {
        HeldKeys control({VK_CONTROL});
        press_in_tree('F');
    }
    long_text.join();
    EXPECT_EQ(settings.recScanString, std::string(259, 'a')) << "the stored text is a 260-byte buffer";
}

// --- pictures for a person to look at ------------------------------------------------------

// Pictures of the three dialogs as the display shows them, written as BMP
// files into the folder VELLUM_DIALOG_SHOTS names; skipped without it.
TEST_F(AutoGetDialogsTest, PicturesOfTheDialogs) {
    const char* folder = std::getenv("VELLUM_DIALOG_SHOTS");
    if (!folder || !*folder) GTEST_SKIP() << "VELLUM_DIALOG_SHOTS names no folder";
    const std::string shots = folder;
    PageNode* base = reserve("http://www.example.co.jp/soft/index.html?lang=ja");
    ASSERT_TRUE(base);
    base->job()->skipExtensions = LineList{"zip", "exe", "lzh"};
    base->job()->restrictions = LineList{"http://www.example.co.jp/soft/", "http://cdn.example.co.jp/"};
    auto picture = [&](UiDriver& u, HWND d, const char* name) {
        u.settle(d);
        RedrawWindow(d, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        Sleep(700);
        EXPECT_TRUE(save_window_picture(d, shots + "\\" + name));
    };

    UiDriver job([&](UiDriver& u) {
        HWND d = u.wait_dialog(kJobTitle);
        ASSERT_TRUE(d);
        picture(u, d, "job_settings.bmp");
        u.click(d, IDCANCEL);
    });
    select(base);
    press_in_tree(VK_RETURN);
    job.join();

    SetClock clock;
    clock.set_local(10, 21, 47, 5);
    set_clock(&clock);
    UiDriver start([&](UiDriver& u) {
        HWND d = u.wait_dialog(kStartTitle);
        ASSERT_TRUE(d);
        picture(u, d, "start.bmp");
        u.click(d, IDC_START_LINK_ONLY);
        u.click(d, IDC_START_SCHEDULED);
        picture(u, d, "start_waiting.bmp");
        u.click(d, IDCANCEL);
        u.click(d, IDCANCEL);
    });
    start_command();
    start.join();

    settings.recScanString = "example.co.jp/soft";
    UiDriver search([&](UiDriver& u) {
        HWND d = u.wait_dialog(kSearchTitle);
        ASSERT_TRUE(d);
        picture(u, d, "url_search.bmp");
        u.click(d, IDCANCEL);
    });
    {
        HeldKeys control({VK_CONTROL});
        press_in_tree('F');
    }
    search.join();
}

}  // namespace
}  // namespace vellum
