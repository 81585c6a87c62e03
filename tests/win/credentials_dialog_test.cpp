// The パスワード設定 dialog driven through its controls, as a person would:
// list selections, typing, the 削除 button, OK and キャンセル; what the store
// holds afterwards is what the dialog's caller applies on OK.
#include "cookies/credentials_dialog_win.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "resources/resource.h"

namespace vellum {
namespace {

// The open dialog of the test thread, seen from outside.
class Screen {
public:
    explicit Screen(HWND dialog) : dialog_(dialog) {}

    void select(int combo, int index) {
        HWND control = GetDlgItem(dialog_, combo);
        SendMessageA(control, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(combo, CBN_SELCHANGE), reinterpret_cast<LPARAM>(control));
    }
    void type(int edit, const std::string& text) { SetDlgItemTextA(dialog_, edit, text.c_str()); }
    void press(int button) {
        SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog_, button)));
    }
    std::vector<std::string> items(int combo) const {
        std::vector<std::string> texts;
        HWND control = GetDlgItem(dialog_, combo);
        const int count = static_cast<int>(SendMessageA(control, CB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            char text[512] = {};
            SendMessageA(control, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
            texts.push_back(text);
        }
        return texts;
    }
    int selected(int combo) const { return static_cast<int>(SendDlgItemMessageA(dialog_, combo, CB_GETCURSEL, 0, 0)); }
    std::string text(int id) const {
        char text[512] = {};
        GetDlgItemTextA(dialog_, id, text, sizeof text);
        return text;
    }
    bool enabled(int id) const { return IsWindowEnabled(GetDlgItem(dialog_, id)) != FALSE; }
    std::string caption() const {
        char text[128] = {};
        GetWindowTextA(dialog_, text, sizeof text);
        return text;
    }
    LONG style(int id) const { return GetWindowLongA(GetDlgItem(dialog_, id), GWL_STYLE); }

private:
    HWND dialog_;
};

// Runs the dialog over `store` with `script` acting on it once it is open;
// applies the pending changes on OK as the program does. The dialog's result.
std::function<void(Screen&)> g_script;

BOOL CALLBACK find_dialog(HWND window, LPARAM found) {
    char class_name[16] = {};
    GetClassNameA(window, class_name, sizeof class_name);
    if (std::string(class_name) != "#32770") return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

void CALLBACK act(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), find_dialog, reinterpret_cast<LPARAM>(&dialog));
    if (!dialog) return;  // not made yet: the timer comes again
    KillTimer(nullptr, timer);
    Screen screen(dialog);
    g_script(screen);
}

INT_PTR run_dialog(CredentialStore& store, std::function<void(Screen&)> script) {
    g_script = std::move(script);
    const UINT_PTR timer = SetTimer(nullptr, 0, 10, act);
    CredentialsDialog dialog(store);
    const INT_PTR result = dialog.run(nullptr);
    KillTimer(nullptr, timer);
    if (result == IDOK) dialog.edits.apply(store);
    return result;
}

const char kRealm[] = "Basic realm=\"会員\"";
const char kOther[] = "Basic realm=\"other\"";

CredentialStore sample_store() {
    CredentialStore store;
    credentials_put(store, "a.test", kRealm, "alice", "secret");
    credentials_put(store, "a.test", kOther, std::nullopt, std::nullopt);
    credentials_put(store, "b.test:8080", kRealm, std::nullopt, std::nullopt);
    return store;
}

TEST(CredentialsDialog, OpensWithTheHostsAndNothingElseToEdit) {
    CredentialStore store = sample_store();
    const CredentialStore before = store;
    const INT_PTR result = run_dialog(store, [](Screen& s) {
        EXPECT_EQ(s.caption(), "パスワード設定");
        EXPECT_EQ(s.items(IDC_AUTH_HOST), (std::vector<std::string>{"a.test", "b.test:8080"}));
        EXPECT_EQ(s.selected(IDC_AUTH_HOST), CB_ERR);
        EXPECT_TRUE(s.items(IDC_AUTH_CHALLENGE).empty());
        EXPECT_FALSE(s.enabled(IDC_AUTH_CHALLENGE));
        EXPECT_FALSE(s.enabled(IDC_AUTH_USER));
        EXPECT_FALSE(s.enabled(IDC_AUTH_PASSWORD));
        EXPECT_FALSE(s.enabled(IDC_AUTH_REMOVE));
        EXPECT_EQ(s.text(IDC_AUTH_USER), "");
        EXPECT_TRUE(s.style(IDC_AUTH_PASSWORD) & ES_PASSWORD);
        EXPECT_EQ(s.style(IDC_AUTH_HOST) & 3, CBS_DROPDOWNLIST);
        EXPECT_FALSE(s.style(IDC_AUTH_HOST) & CBS_SORT);
        s.press(IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(store.hosts, before.hosts);
}

TEST(CredentialsDialog, EditsAreKeptAcrossSelectionsAndAppliedOnOk) {
    CredentialStore store = sample_store();
    const INT_PTR result = run_dialog(store, [](Screen& s) {
        s.select(IDC_AUTH_HOST, 0);
        EXPECT_TRUE(s.enabled(IDC_AUTH_REMOVE));
        EXPECT_TRUE(s.enabled(IDC_AUTH_CHALLENGE));
        EXPECT_EQ(s.items(IDC_AUTH_CHALLENGE), (std::vector<std::string>{kRealm, kOther}));
        EXPECT_EQ(s.selected(IDC_AUTH_CHALLENGE), 0);
        EXPECT_EQ(s.text(IDC_AUTH_USER), "alice");
        EXPECT_EQ(s.text(IDC_AUTH_PASSWORD), "secret");
        EXPECT_TRUE(s.enabled(IDC_AUTH_USER));

        // Typed over, then another challenge: the first edit is pending and
        // comes back when its challenge is chosen again.
        s.type(IDC_AUTH_PASSWORD, "changed");
        s.select(IDC_AUTH_CHALLENGE, 1);
        EXPECT_EQ(s.text(IDC_AUTH_USER), "");
        EXPECT_EQ(s.text(IDC_AUTH_PASSWORD), "");
        s.type(IDC_AUTH_USER, "bob");
        s.type(IDC_AUTH_PASSWORD, "pw2");
        s.select(IDC_AUTH_CHALLENGE, 0);
        EXPECT_EQ(s.text(IDC_AUTH_PASSWORD), "changed");

        // Another host keeps what was on screen too.
        s.select(IDC_AUTH_HOST, 1);
        EXPECT_EQ(s.text(IDC_AUTH_USER), "");
        s.type(IDC_AUTH_USER, "カール");
        s.type(IDC_AUTH_PASSWORD, "パス");
        s.press(IDOK);  // keeps the edit on screen first
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(credentials_find(store, "a.test", kRealm)->password, "changed");
    EXPECT_EQ(credentials_find(store, "a.test", kOther)->user_name, "bob");
    EXPECT_EQ(credentials_find(store, "b.test:8080", kRealm)->user_name, "カール");
    EXPECT_EQ(credentials_basic_token(store, "a.test", kOther), "Ym9iOnB3Mg==");
}

TEST(CredentialsDialog, AnEditWithoutBothTextsOrACancelChangesNothing) {
    CredentialStore store = sample_store();
    const CredentialStore before = store;
    run_dialog(store, [](Screen& s) {
        s.select(IDC_AUTH_HOST, 1);
        s.type(IDC_AUTH_USER, "only-a-name");
        s.select(IDC_AUTH_HOST, 0);
        s.type(IDC_AUTH_USER, "");  // a stored entry emptied is not a change either
        s.press(IDOK);
    });
    EXPECT_EQ(store.hosts, before.hosts);

    const INT_PTR result = run_dialog(store, [](Screen& s) {
        s.select(IDC_AUTH_HOST, 1);
        s.type(IDC_AUTH_USER, "u");
        s.type(IDC_AUTH_PASSWORD, "p");
        s.press(IDC_AUTH_REMOVE);
        s.select(IDC_AUTH_HOST, 0);
        s.press(IDCANCEL);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(store.hosts, before.hosts);
}

TEST(CredentialsDialog, RemovedHostsGoOnOkEvenWhenEditedBefore) {
    CredentialStore store = sample_store();
    run_dialog(store, [](Screen& s) {
        s.select(IDC_AUTH_HOST, 0);
        s.type(IDC_AUTH_PASSWORD, "new");
        s.select(IDC_AUTH_HOST, 1);  // the edit of a.test is pending now
        s.select(IDC_AUTH_HOST, 0);
        s.press(IDC_AUTH_REMOVE);
        EXPECT_EQ(s.items(IDC_AUTH_HOST), std::vector<std::string>{"b.test:8080"});
        EXPECT_EQ(s.selected(IDC_AUTH_HOST), CB_ERR);
        EXPECT_FALSE(s.enabled(IDC_AUTH_REMOVE));
        EXPECT_FALSE(s.enabled(IDC_AUTH_CHALLENGE));
        EXPECT_TRUE(s.items(IDC_AUTH_CHALLENGE).empty());
        EXPECT_FALSE(s.enabled(IDC_AUTH_USER));

        s.select(IDC_AUTH_HOST, 0);
        s.type(IDC_AUTH_USER, "typed");
        s.type(IDC_AUTH_PASSWORD, "then removed");
        s.press(IDC_AUTH_REMOVE);  // the edit on screen is not kept
        EXPECT_TRUE(s.items(IDC_AUTH_HOST).empty());
        s.press(IDOK);
    });
    EXPECT_TRUE(store.hosts.empty());
}

}  // namespace
}  // namespace vellum
