// The window and dialog bases on real windows of the test thread: binding
// and ownership, the modal dialog's record handling, the deferral slot,
// placement, the debug keys and the small helpers.
#include "base/window_win.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/debug_keys_win.h"
#include "base/dialog_win.h"
#include "base/parked_message_win.h"
#include "base/placement_win.h"
#include "resources/resource.h"

namespace vellum {
namespace {

constexpr char kTestClass[] = "VellumTestWindowBase";
constexpr UINT kCountedMessage = WM_APP + 1;

void pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
}

// Records what reaches its member procedure and when it is deleted.
class ProbeWindow : public Window {
public:
    struct Log {
        std::vector<UINT> messages;
        bool deleted = false;
        std::vector<WPARAM> counted;  // kCountedMessage's wParams
    };

    static HWND open(Log& log, const char* class_name = kTestClass) {
        return create(std::unique_ptr<Window>(new ProbeWindow(log)),
                      {.class_name = class_name, .style = WS_OVERLAPPED, .width = 200, .height = 100,
                       .instance = GetModuleHandleA(nullptr)});
    }

    Deferral deferral;

private:
    explicit ProbeWindow(Log& log) : log_(log) {}
    ~ProbeWindow() override { log_.deleted = true; }

    LRESULT on_message(UINT message, WPARAM wparam, LPARAM lparam) override {
        log_.messages.push_back(message);
        if (message == kCountedMessage) {
            if (deferral.park_if_active(message, wparam, lparam)) return 0;
            log_.counted.push_back(wparam);
            return 0;
        }
        return default_procedure(message, wparam, lparam);
    }

    Log& log_;
};

class WindowBaseTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        WNDCLASSA wc{};
        wc.lpfnWndProc = &Window::procedure;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = kTestClass;
        RegisterClassA(&wc);
    }
};

bool saw(const ProbeWindow::Log& log, UINT message) {
    for (UINT m : log.messages) {
        if (m == message) return true;
    }
    return false;
}

TEST_F(WindowBaseTest, TheWindowOwnsItsObjectFromFirstMessageToLast) {
    ProbeWindow::Log log;
    HWND window = ProbeWindow::open(log);
    ASSERT_TRUE(window);
    ASSERT_FALSE(log.messages.empty());
    EXPECT_EQ(log.messages.front(), static_cast<UINT>(WM_NCCREATE));
    EXPECT_TRUE(saw(log, WM_CREATE));
    ASSERT_NE(Window::of(window), nullptr);
    EXPECT_EQ(Window::of(window)->window(), window);

    DestroyWindow(window);
    EXPECT_EQ(log.messages.back(), static_cast<UINT>(WM_NCDESTROY));
    EXPECT_TRUE(log.deleted);
}

TEST_F(WindowBaseTest, AWindowThatCanNotBeMadeFreesItsObject) {
    ProbeWindow::Log log;
    EXPECT_EQ(ProbeWindow::open(log, "VellumNoSuchClass"), nullptr);
    EXPECT_TRUE(log.messages.empty());
    EXPECT_TRUE(log.deleted);
}

TEST_F(WindowBaseTest, ADeferralParksOneMessageAndReplaysItAtTheEnd) {
    ProbeWindow::Log log;
    HWND window = ProbeWindow::open(log);
    auto& probe = static_cast<ProbeWindow&>(*Window::of(window));

    SendMessageA(window, kCountedMessage, 1, 0);
    probe.deferral.begin();
    SendMessageA(window, kCountedMessage, 2, 0);
    SendMessageA(window, kCountedMessage, 3, 0);  // replaces the one parked before
    EXPECT_EQ(log.counted, (std::vector<WPARAM>{1}));
    probe.deferral.end(window);
    EXPECT_EQ(log.counted, (std::vector<WPARAM>{1, 3}));
    EXPECT_FALSE(probe.deferral.active());

    // Once replayed, the slot is empty: a second end sends nothing.
    probe.deferral.begin();
    probe.deferral.end(window);
    EXPECT_EQ(log.counted, (std::vector<WPARAM>{1, 3}));
    DestroyWindow(window);
}

TEST_F(WindowBaseTest, PlacementIsRememberedAndRestoredInsideTheWorkArea) {
    ProbeWindow::Log log;
    HWND window = ProbeWindow::open(log);
    RECT work{};
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0));

    std::int32_t left = work.left + 10, top = work.top + 20, right = work.left + 310, bottom = work.top + 220;
    restore_placement(window, {left, top, right, bottom});
    std::int32_t l = 0, t = 0, r = 0, b = 0;
    remember_placement(window, {l, t, r, b});
    EXPECT_EQ(std::vector<std::int32_t>({l, t, r, b}), std::vector<std::int32_t>({left, top, right, bottom}));

    // Minimised, the normal rectangle is still the one remembered.
    ShowWindow(window, SW_MINIMIZE);
    std::int32_t ml = 0, mt = 0, mr = 0, mb = 0;
    remember_placement(window, {ml, mt, mr, mb});
    EXPECT_EQ(std::vector<std::int32_t>({ml, mt, mr, mb}), std::vector<std::int32_t>({left, top, right, bottom}));
    ShowWindow(window, SW_RESTORE);

    // Nothing stored: the window keeps its size and is centred.
    std::int32_t none[4] = {0, 0, 0, 0};
    restore_placement(window, {none[0], none[1], none[2], none[3]});
    RECT now{};
    GetWindowRect(window, &now);
    EXPECT_EQ(now.right - now.left, 300);
    EXPECT_NEAR((now.left + now.right) / 2, (work.left + work.right) / 2, 1);
    DestroyWindow(window);
}

TEST_F(WindowBaseTest, ASwallowingControlNeverSeesTyping) {
    HWND plain = CreateWindowA("EDIT", "", WS_POPUP, 0, 0, 100, 20, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    HWND swallowing =
        CreateWindowA("EDIT", "", WS_POPUP, 0, 0, 100, 20, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    swallow_typing(swallowing);
    swallow_typing(swallowing);  // a second time changes nothing
    for (HWND edit : {plain, swallowing}) SendMessageA(edit, WM_CHAR, 'a', 0);
    SendMessageA(swallowing, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("set"));
    char text[16] = {};
    GetWindowTextA(plain, text, sizeof text);
    EXPECT_STREQ(text, "a");
    GetWindowTextA(swallowing, text, sizeof text);
    EXPECT_STREQ(text, "set");
    DestroyWindow(plain);
    DestroyWindow(swallowing);
}

TEST_F(WindowBaseTest, CheckItemSetsAndClearsTheMark) {
    HMENU menu = CreatePopupMenu();
    AppendMenuA(menu, MF_STRING, 40001, "item");
    check_item(menu, 40001, true);
    EXPECT_TRUE(GetMenuState(menu, 40001, MF_BYCOMMAND) & MF_CHECKED);
    check_item(menu, 40001, false);
    EXPECT_FALSE(GetMenuState(menu, 40001, MF_BYCOMMAND) & MF_CHECKED);
    DestroyMenu(menu);
}

// A settings dialog as the program writes them, on the log template: the
// record is the edit's text. `script` runs once the controls are filled, as
// a person would act on the open dialog.
class TextDialog : public ModalDialog {
public:
    std::string record;
    std::function<void(TextDialog&)> script;
    int ok_refusals = 0;  // OK presses refused before one is accepted
    std::string caption_seen;

    explicit TextDialog(std::string text) : ModalDialog(IDD_LOG, "テスト"), record(std::move(text)) {}

    void type(const std::string& text) { set_item_text(IDC_LOG_TEXT, text); }
    void press(UINT id) { PostMessageA(dialog(), WM_COMMAND, id, 0); }
    using ModalDialog::end;

private:
    void on_init() override {
        char caption[64] = {};
        GetWindowTextA(dialog(), caption, sizeof caption);
        caption_seen = caption;
        set_item_text(IDC_LOG_TEXT, record);
        if (script) script(*this);
    }
    bool on_ok() override {
        record = item_text(IDC_LOG_TEXT);
        if (ok_refusals == 0) return true;
        --ok_refusals;
        return false;
    }
};

TEST(ModalDialog, HandsTheRecordBackOnlyOnOk) {
    TextDialog accepted("before");
    accepted.script = [](TextDialog& d) {
        d.type("after");
        d.press(IDOK);
    };
    EXPECT_EQ(accepted.run(nullptr), IDOK);
    EXPECT_EQ(accepted.record, "after");
    EXPECT_EQ(accepted.caption_seen, "テスト");
    EXPECT_EQ(accepted.dialog(), nullptr);

    TextDialog cancelled("before");
    cancelled.script = [](TextDialog& d) {
        d.type("after");
        d.press(IDCANCEL);
    };
    EXPECT_EQ(cancelled.run(nullptr), IDCANCEL);
    EXPECT_EQ(cancelled.record, "before");
}

TEST(ModalDialog, ARefusedOkKeepsTheDialogOpen) {
    TextDialog dialog("x");
    dialog.ok_refusals = 1;
    dialog.script = [](TextDialog& d) {
        d.type("first");
        d.press(IDOK);  // refused: the dialog stays
        d.press(IDOK);
    };
    EXPECT_EQ(dialog.run(nullptr), IDOK);
    EXPECT_EQ(dialog.ok_refusals, 0);
}

TEST(ModalDialog, ItsOwnButtonsEndItWithTheirResult) {
    TextDialog dialog("x");
    dialog.script = [](TextDialog& d) { d.end(4); };
    EXPECT_EQ(dialog.run(nullptr), 4);
    EXPECT_EQ(dialog.record, "x");  // only OK reads the controls
}

TEST(ModalDialog, TextIsCutAtItsLimit) {
    TextDialog dialog("");
    dialog.script = [](TextDialog& d) {
        d.type(std::string(400, 'z'));
        d.press(IDOK);
    };
    dialog.run(nullptr);
    EXPECT_EQ(dialog.record, std::string(259, 'z'));
}

class Keys : public DebugKeyTarget {
public:
    void close_debug_windows() override { ++closed; }
    void toggle_debug_windows() override { ++toggled; }
    int closed = 0;
    int toggled = 0;
};

TEST(DebugKeys, DAndLInEitherCaseAndNothingElse) {
    Keys keys;
    EXPECT_TRUE(run_debug_key('D', keys));
    EXPECT_TRUE(run_debug_key('d', keys));
    EXPECT_TRUE(run_debug_key(MAKEWPARAM('l', MF_POPUP), keys));
    EXPECT_FALSE(run_debug_key('x', keys));
    EXPECT_EQ(keys.closed, 2);
    EXPECT_EQ(keys.toggled, 1);
}

TEST(DebugKeys, OnlyMarkedWindowsOfTheOwnerAreClosed) {
    HWND owner = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    HWND other = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    auto open = [&](HWND by, bool marked) {
        class Probe : public ModelessDialog {
        public:
            Probe() : ModelessDialog(IDD_LOG) {}
        };
        HWND dialog = ModelessDialog::open(std::make_unique<Probe>(), by);
        if (marked) mark_debug_window(dialog);
        return dialog;
    };
    HWND marked = open(owner, true);
    HWND unmarked = open(owner, false);
    HWND foreign = open(other, true);
    ASSERT_TRUE(marked && unmarked && foreign);
    close_marked_debug_windows(owner);
    pump();
    EXPECT_FALSE(IsWindow(marked));
    EXPECT_TRUE(IsWindow(unmarked));
    EXPECT_TRUE(IsWindow(foreign));
    DestroyWindow(owner);  // takes the dialogs it owns along
    DestroyWindow(other);
    EXPECT_FALSE(IsWindow(unmarked));
}

}  // namespace
}  // namespace vellum
