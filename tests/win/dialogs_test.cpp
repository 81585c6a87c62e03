// The main window's dialogs and small help commands, opened by their
// commands on the real main window and driven through their controls as a
// user would: the HTTP proxy settings, the dial-up settings over a stand-in
// phone book, the WinSock information, the version box, the home page and
// the manual.
#include <gtest/gtest.h>

#include "base/messages.h"
#include "base/program_title.h"
#include "base/shell_open_win.h"
#include "proxy/listener_win.h"
#include "resources/resource.h"
#include "shell/help_win.h"
#include "shell/settings.h"
#include "shell/winsock_info_dialog_win.h"
#include "tests/support/fake_ras_win.h"
#include "tests/support/program_session_win.h"
#include "tests/support/ui_driver_win.h"

namespace vellum {
namespace {

using testing::FakeRas;
using testing::UiDriver;

constexpr char kProxyTitle[] = "HTTPプロキシサーバーの設定";
constexpr char kDialUpTitle[] = "ダイアルアップ接続サポート";

class DialogsTest : public testing::ProgramSession {
protected:
    void SetUp() override {
        ProgramSession::SetUp();
        static int next_port = 28521;
        ASSERT_TRUE(start("127.0.0.1:" + std::to_string(next_port++)));
    }

    // Runs a command as the menu does; returns when its dialog has closed.
    void command(UINT id) { SendMessageA(window, WM_COMMAND, id, 0); }
};

// --- HTTP proxy settings ------------------------------------------------------------

TEST_F(DialogsTest, ProxyDialogShowsTheSettingsAndEnablesWithItsBox) {
    settings().proxy = {"proxy.example", "3128", 0};
    UiDriver user([](UiDriver& u) {
        HWND d = u.wait_dialog(kProxyTitle);
        ASSERT_TRUE(d);
        EXPECT_FALSE(u.checked(d, IDC_PROXY_USE));
        EXPECT_EQ(u.text(d, IDC_PROXY_ADDRESS), "proxy.example");
        EXPECT_EQ(u.text(d, IDC_PROXY_PORT), "3128");
        for (int id : {IDC_PROXY_ADDRESS_LABEL, IDC_PROXY_ADDRESS, IDC_PROXY_PORT_LABEL, IDC_PROXY_PORT}) {
            EXPECT_FALSE(u.enabled(d, id)) << id;
        }
        u.click(d, IDC_PROXY_USE);
        u.settle(d);
        for (int id : {IDC_PROXY_ADDRESS_LABEL, IDC_PROXY_ADDRESS, IDC_PROXY_PORT_LABEL, IDC_PROXY_PORT}) {
            EXPECT_TRUE(u.enabled(d, id)) << id;
        }
        u.click(d, IDC_PROXY_USE);
        u.settle(d);
        EXPECT_FALSE(u.enabled(d, IDC_PROXY_PORT));
        u.click(d, IDCANCEL);
    });
    command(ID_PROXY_SETTINGS);
    user.join();
}

TEST_F(DialogsTest, ProxyOkTakesTheControls) {
    settings().proxy = {"", "", 0};
    UiDriver user([](UiDriver& u) {
        HWND d = u.wait_dialog(kProxyTitle);
        ASSERT_TRUE(d);
        u.click(d, IDC_PROXY_USE);
        u.type(d, IDC_PROXY_ADDRESS, "127.0.0.1");
        u.type(d, IDC_PROXY_PORT, "3128");
        u.click(d, IDOK);
    });
    command(ID_PROXY_SETTINGS);
    user.join();
    EXPECT_EQ(settings().proxy, (ProxySettings{"127.0.0.1", "3128", 1}));
    EXPECT_TRUE(prompter.shown.empty());
}

TEST_F(DialogsTest, AnUnresolvableAddressIsRefusedEvenWithTheBoxOff) {
    const ProxySettings before{"10.0.0.1", "80", 0};
    settings().proxy = before;
    bool stayed = false;
    std::string address_after;
    UiDriver user([&](UiDriver& u) {
        HWND d = u.wait_dialog(kProxyTitle);
        ASSERT_TRUE(d);
        u.type(d, IDC_PROXY_ADDRESS, "nosuchhost.invalid");
        u.click(d, IDOK);
        u.settle(d);
        stayed = IsWindowVisible(d) != FALSE;
        address_after = u.text(d, IDC_PROXY_ADDRESS);
        u.click(d, IDCANCEL);
    });
    command(ID_PROXY_SETTINGS);
    user.join();
    EXPECT_TRUE(stayed);
    EXPECT_EQ(address_after, "") << "the address edit is emptied";
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, "アドレスエラー");
    EXPECT_EQ(prompter.shown[0].caption, kProxyTitle);
    EXPECT_EQ(prompter.shown[0].flags & MB_ICONMASK, static_cast<UINT>(MB_ICONWARNING));
    EXPECT_EQ(settings().proxy, before);
}

TEST_F(DialogsTest, AnEmptyAddressNamesThisMachine) {
    settings().proxy = {"10.0.0.1", "80", 1};
    UiDriver user([](UiDriver& u) {
        HWND d = u.wait_dialog(kProxyTitle);
        ASSERT_TRUE(d);
        u.click(d, IDC_PROXY_USE);
        u.type(d, IDC_PROXY_ADDRESS, "");
        u.click(d, IDOK);
    });
    command(ID_PROXY_SETTINGS);
    user.join();
    EXPECT_TRUE(prompter.shown.empty());
    EXPECT_EQ(settings().proxy, (ProxySettings{"", "80", 0}));
}

TEST_F(DialogsTest, CancellingTheProxyDialogAfterChangingEverythingKeepsTheSettings) {
    const ProxySettings before{"proxy.example", "3128", 1};
    settings().proxy = before;
    UiDriver user([](UiDriver& u) {
        HWND d = u.wait_dialog(kProxyTitle);
        ASSERT_TRUE(d);
        u.click(d, IDC_PROXY_USE);
        u.type(d, IDC_PROXY_ADDRESS, "127.0.0.1");
        u.type(d, IDC_PROXY_PORT, "1");
        u.click(d, IDCANCEL);
    });
    command(ID_PROXY_SETTINGS);
    user.join();
    EXPECT_EQ(settings().proxy, before);
}

// The program listening on the default address: the proxy must not be set
// to the program itself.
class DefaultAddressTest : public testing::ProgramSession {};

TEST_F(DefaultAddressTest, TheProgramsOwnAddressIsRefused) {
    ASSERT_TRUE(start(""));
    ASSERT_EQ(main().listen_address().port, 8080);
    settings().proxy = {"", "", 0};
    bool stayed_on_own = false;
    UiDriver user([&](UiDriver& u) {
        HWND d = u.wait_dialog(kProxyTitle);
        ASSERT_TRUE(d);
        u.click(d, IDC_PROXY_USE);
        u.type(d, IDC_PROXY_ADDRESS, "127.0.0.1");
        u.type(d, IDC_PROXY_PORT, "8080");
        u.click(d, IDOK);
        u.settle(d);
        stayed_on_own = IsWindowVisible(d) != FALSE;
        EXPECT_EQ(u.text(d, IDC_PROXY_ADDRESS), "127.0.0.1") << "the address stays for correcting";
        // Another port of the same address is a proxy of its own.
        u.type(d, IDC_PROXY_PORT, "8081");
        u.click(d, IDOK);
    });
    SendMessageA(window, WM_COMMAND, ID_PROXY_SETTINGS, 0);
    user.join();
    EXPECT_TRUE(stayed_on_own);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, "クライアント側（Ｗｅｂブラウザ等）で設定する値です。");
    EXPECT_EQ(prompter.shown[0].caption, kProxyTitle);
    EXPECT_EQ(settings().proxy, (ProxySettings{"127.0.0.1", "8081", 1}));
}

// --- dial-up settings ------------------------------------------------------------------

class DialUpDialogTest : public DialogsTest {
protected:
    FakeRas ras;
    void SetUp() override {
        DialogsTest::SetUp();
        ras.phone_book = {{"first", "user1", "pass1"}, {"second", "user2", "pass2"}, {"third", "", ""}};
    }
};

TEST_F(DialUpDialogTest, TheConfiguredEntryShowsItsOwnLogin) {
    settings().dialUp = {1, "second", "mine", "secret"};
    UiDriver user([](UiDriver& u) {
        HWND d = u.wait_dialog(kDialUpTitle);
        ASSERT_TRUE(d);
        EXPECT_TRUE(u.checked(d, IDC_DIALUP_SUPPORT));
        EXPECT_EQ(u.list_items(d, IDC_DIALUP_ENTRY), (std::vector<std::string>{"first", "second", "third"}));
        EXPECT_EQ(u.list_selection(d, IDC_DIALUP_ENTRY), 1);
        EXPECT_EQ(u.text(d, IDC_DIALUP_ID), "mine");
        EXPECT_EQ(u.text(d, IDC_DIALUP_PASSWORD), "secret");
        EXPECT_TRUE(GetWindowLongA(GetDlgItem(d, IDC_DIALUP_PASSWORD), GWL_STYLE) & ES_PASSWORD);
        u.type(d, IDC_DIALUP_ID, "typed");
        u.click(d, IDOK);
    });
    command(ID_DIALUP_SETTINGS);
    user.join();
    EXPECT_EQ(settings().dialUp, (DialUpSettings{1, "second", "typed", "secret"}));
}

TEST_F(DialUpDialogTest, ADeletedEntryGivesWayToTheFirstWithItsSavedLogin) {
    settings().dialUp = {1, "gone", "old", "oldpass"};
    UiDriver user([](UiDriver& u) {
        HWND d = u.wait_dialog(kDialUpTitle);
        ASSERT_TRUE(d);
        EXPECT_EQ(u.list_selection(d, IDC_DIALUP_ENTRY), 0);
        EXPECT_EQ(u.text(d, IDC_DIALUP_ID), "user1");
        EXPECT_EQ(u.text(d, IDC_DIALUP_PASSWORD), "pass1");
        u.click(d, IDOK);
    });
    command(ID_DIALUP_SETTINGS);
    user.join();
    EXPECT_EQ(settings().dialUp, (DialUpSettings{1, "first", "user1", "pass1"}));
}

TEST_F(DialUpDialogTest, ChoosingAnEntryShowsItsSavedLoginAndReChoosingShowsTheKeptOne) {
    settings().dialUp = {1, "first", "mine", "secret"};
    UiDriver user([](UiDriver& u) {
        HWND d = u.wait_dialog(kDialUpTitle);
        ASSERT_TRUE(d);
        u.type(d, IDC_DIALUP_ID, "typed over");
        u.choose(d, IDC_DIALUP_ENTRY, 0);  // the same entry: the kept login comes back
        u.settle(d);
        EXPECT_EQ(u.text(d, IDC_DIALUP_ID), "mine");
        u.choose(d, IDC_DIALUP_ENTRY, 1);
        u.settle(d);
        EXPECT_EQ(u.text(d, IDC_DIALUP_ID), "user2");
        EXPECT_EQ(u.text(d, IDC_DIALUP_PASSWORD), "pass2");
        u.choose(d, IDC_DIALUP_ENTRY, 0);  // now another entry than the kept one
        u.settle(d);
        EXPECT_EQ(u.text(d, IDC_DIALUP_ID), "user1");
        u.choose(d, IDC_DIALUP_ENTRY, 2);
        u.type(d, IDC_DIALUP_PASSWORD, "new");
        u.click(d, IDOK);
    });
    command(ID_DIALUP_SETTINGS);
    user.join();
    EXPECT_EQ(settings().dialUp, (DialUpSettings{1, "third", "", "new"}));
}

TEST_F(DialUpDialogTest, TheSupportBoxEnablesTheEntryAndLogin) {
    settings().dialUp = {0, "first", "user1", "pass1"};
    UiDriver user([](UiDriver& u) {
        HWND d = u.wait_dialog(kDialUpTitle);
        ASSERT_TRUE(d);
        const int ids[] = {IDC_DIALUP_ENTRY, IDC_DIALUP_ID_LABEL, IDC_DIALUP_ID, IDC_DIALUP_PASSWORD_LABEL,
                           IDC_DIALUP_PASSWORD};
        for (int id : ids) EXPECT_FALSE(u.enabled(d, id)) << id;
        u.click(d, IDC_DIALUP_SUPPORT);
        u.settle(d);
        for (int id : ids) EXPECT_TRUE(u.enabled(d, id)) << id;
        u.click(d, IDOK);
    });
    command(ID_DIALUP_SETTINGS);
    user.join();
    EXPECT_EQ(settings().dialUp.support, 1u);
}

TEST_F(DialUpDialogTest, AnEmptyPhoneBookStoresNoEntry) {
    ras.phone_book.clear();
    settings().dialUp = {0, "isp", "u", "p"};
    UiDriver user([](UiDriver& u) {
        HWND d = u.wait_dialog(kDialUpTitle);
        ASSERT_TRUE(d);
        EXPECT_TRUE(u.list_items(d, IDC_DIALUP_ENTRY).empty());
        u.click(d, IDC_DIALUP_SUPPORT);
        u.type(d, IDC_DIALUP_ID, "ignored");
        u.click(d, IDOK);
    });
    command(ID_DIALUP_SETTINGS);
    user.join();
    EXPECT_EQ(settings().dialUp, (DialUpSettings{1, "", "", ""}));
}

TEST_F(DialUpDialogTest, CancellingAfterChangingEverythingKeepsTheSettings) {
    const DialUpSettings before{0, "gone", "old", "oldpass"};
    settings().dialUp = before;
    UiDriver user([](UiDriver& u) {
        HWND d = u.wait_dialog(kDialUpTitle);
        ASSERT_TRUE(d);
        u.click(d, IDC_DIALUP_SUPPORT);
        u.choose(d, IDC_DIALUP_ENTRY, 1);
        u.type(d, IDC_DIALUP_ID, "x");
        u.type(d, IDC_DIALUP_PASSWORD, "y");
        u.click(d, IDCANCEL);
    });
    command(ID_DIALUP_SETTINGS);
    user.join();
    EXPECT_EQ(settings().dialUp, before);
}

// --- WinSock information ---------------------------------------------------------------

TEST_F(DialogsTest, WinsockInformationShowsWhatStartupReported) {
    const WSADATA& data = winsock_data();
    ASSERT_EQ(data.wVersion, MAKEWORD(1, 1)) << "the program asks for WinSock 1.1";
    std::string shown;
    bool progress_visible = true;
    RECT edit{}, client{};
    UiDriver user([&](UiDriver& u) {
        HWND d = u.wait_dialog("WinSock情報");
        ASSERT_TRUE(d);
        shown = u.text(d, IDC_LOG_TEXT);
        progress_visible = u.visible(d, IDC_LOG_PROGRESS);
        GetWindowRect(GetDlgItem(d, IDC_LOG_TEXT), &edit);
        MapWindowPoints(nullptr, d, reinterpret_cast<POINT*>(&edit), 2);
        GetClientRect(d, &client);
        PostMessageA(d, WM_COMMAND, IDCANCEL, 0);  // Esc
    });
    command(ID_HELP_WINSOCK);
    user.join();
    EXPECT_EQ(shown, "Version : 1.1\r\nHighVersion : " + std::to_string(LOBYTE(data.wHighVersion)) + "." +
                         std::to_string(HIBYTE(data.wHighVersion)) + "\r\nDescription : " + data.szDescription +
                         "\r\nSystemStatus : " + data.szSystemStatus + "\r\nMaxSockets : " +
                         std::to_string(data.iMaxSockets) + "\r\nMaxUdpDg: " + std::to_string(data.iMaxUdpDg) +
                         "\r\n");
    EXPECT_FALSE(progress_visible);
    EXPECT_EQ(edit.left, 5);
    EXPECT_EQ(edit.top, 5);
    EXPECT_EQ(edit.right, client.right - 5);
    EXPECT_EQ(edit.bottom, client.bottom - 5);
}

TEST(WinsockInformation, Version22ShowsFourLines) {
    WSADATA data{};
    data.wVersion = MAKEWORD(2, 2);
    data.wHighVersion = MAKEWORD(2, 2);
    strcpy(data.szDescription, "WinSock 2.0");
    strcpy(data.szSystemStatus, "Running");
    data.iMaxSockets = 100;
    data.iMaxUdpDg = 512;
    EXPECT_EQ(winsock_info_text(data),
              "Version : 2.2\r\nHighVersion : 2.2\r\nDescription : WinSock 2.0\r\nSystemStatus : Running\r\n");

    std::string shown;
    UiDriver user([&](UiDriver& u) {
        HWND d = u.wait_dialog("WinSock情報");
        ASSERT_TRUE(d);
        shown = u.text(d, IDC_LOG_TEXT);
        u.press_enter(d);
    });
    WinsockInfoDialog dialog(data);
    EXPECT_EQ(dialog.run(nullptr), IDOK);
    user.join();
    EXPECT_EQ(shown, winsock_info_text(data));
}

// --- log windows ------------------------------------------------------------------------

TEST_F(DialogsTest, APlainLogWindowIgnoresTheDebugKeysEvenInDebugMode) {
    ASSERT_TRUE(close_program());
    ASSERT_TRUE(start("debug 127.0.0.1:28539"));
    settings().log = 1;
    SendMessageA(window, WM_MENUCHAR, 'L', 0);
    ASSERT_TRUE(main().debug_windows());
    HWND debug = reinterpret_cast<HWND>(SendMessageA(window, MWM_OPEN_LOG, 0, 1));
    HWND plain = reinterpret_cast<HWND>(SendMessageA(window, MWM_OPEN_LOG, 0, 0));
    ASSERT_TRUE(debug && plain);
    SetPropA(debug, "ID", reinterpret_cast<HANDLE>(1));  // as its connection marks it

    char title[64] = {};
    GetWindowTextA(plain, title, sizeof title);
    EXPECT_STREQ(title, "ログ");
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(plain, IDC_LOG_PROGRESS)));
    for (char key : {'D', 'd', 'L', 'l'}) {
        EXPECT_NE(SendMessageA(plain, WM_MENUCHAR, key, 0), MAKELRESULT(0, MNC_CLOSE)) << key;
        pump();
    }
    EXPECT_TRUE(IsWindow(debug)) << "Alt+D in a plain log window closes nothing";
    EXPECT_TRUE(main().debug_windows()) << "Alt+L in a plain log window toggles nothing";
    DestroyWindow(plain);
    DestroyWindow(debug);
}

// --- version, home page, manual ----------------------------------------------------------

TEST_F(DialogsTest, TheVersionBoxNamesTheProgram) {
    command(ID_HELP_VERSION);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, std::string("Vellum 1.31b\n\n") + kVersionNote);
    EXPECT_EQ(prompter.shown[0].caption, "バージョン情報");
    EXPECT_EQ(prompter.shown[0].flags, static_cast<UINT>(MB_OK));
}

class RecordingOpener : public ShellOpener {
public:
    RecordingOpener() : previous_(set_shell_opener(this)) {}
    ~RecordingOpener() override { set_shell_opener(previous_); }
    bool open(HWND, const std::string& target) override {
        opened.push_back(target);
        return true;
    }
    std::vector<std::string> opened;

private:
    ShellOpener* previous_;
};

TEST_F(DialogsTest, TheHomePageGoesToTheShell) {
    RecordingOpener shell;
    command(ID_HELP_HOMEPAGE);
    EXPECT_EQ(shell.opened, std::vector<std::string>{kHomePageUrl});
    EXPECT_EQ(std::string(kHomePageUrl).rfind("http://", 0), 0u);
}

TEST(Manual, TheTopicIsTheHelpFileBesideTheProgram) {
    EXPECT_EQ(manual_topic("C:\\Program Files\\Vellum\\vellum.exe"),
              "C:\\Program Files\\Vellum\\Velm131.chm>Velm131Help");
    // "ソ" ends in the byte of the backslash; the folder is cut after the real one.
    EXPECT_EQ(manual_topic("C:\\\x83\x5C\\vellum.exe"), "C:\\\x83\x5C\\Velm131.chm>Velm131Help");
    EXPECT_EQ(manual_topic("C:\\\x83\x5C"), "C:\\Velm131.chm>Velm131Help");
}

// The tests run beside the build's programs and the manual: the command
// opens it in its own window type.
TEST_F(DialogsTest, TheManualCommandOpensTheHelpWindow) {
    command(ID_HELP_MANUAL);
    HWND help = nullptr;
    ASSERT_TRUE(pump_until([&] { return (help = FindWindowA("HH Parent", nullptr)) != nullptr; }));
    pump();
    EXPECT_EQ(UiDriver::window_title(help), "Vellum 1.31b マニュアル");
    EXPECT_EQ(GetWindow(help, GW_OWNER), nullptr) << "no owner window";
    PostMessageA(help, WM_CLOSE, 0, 0);
    EXPECT_TRUE(pump_until([&] { return !IsWindow(help); }));
}

}  // namespace
}  // namespace vellum
