// The save-folder chooser in the shell's real folder browser, opened by the
// main window's command 40043 and driven as a user does: right-clicks on the
// tree, the create/delete menu chosen with the keyboard, a name typed into
// the folder-name dialog, OK and cancel clicked.
#include "base/folder_chooser_win.h"

#include <gtest/gtest.h>

#include "resources/resource.h"
#include "shell/settings.h"
#include "tests/support/program_session_win.h"
#include "tests/support/temp_folder_win.h"
#include "tests/support/ui_driver_win.h"

namespace vellum {
namespace {

using testing::UiDriver;

constexpr char kFolderNameTitle[] = "作成するフォルダ名を入力して下さい";
constexpr int kCreate = 0;  // menu positions
constexpr int kDelete = 1;

// "ソ" ends in the byte of the backslash.
const std::string kSo = "\x83\x5C";

bool is_folder(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Right-clicks the selected folder, expects the create/delete menu and
// chooses `item` in it. False when no menu came.
bool use_folder_menu(UiDriver& u, HWND browser, int item) {
    HWND tree = u.tree_of(browser);
    u.right_click(tree, u.label_point(tree, u.selected(tree)));
    HWND menu = u.wait_menu();
    if (!menu) return false;
    EXPECT_EQ(u.menu_items(menu), (std::vector<std::string>{"新規フォルダ作成", "フォルダ削除"}));
    u.choose_menu_item(browser, item);
    return true;
}

class FolderChooserTest : public testing::ProgramSession {
protected:
    testing::TempFolder temp;
    std::string root;  // the folder the chooser starts at

    void SetUp() override {
        ProgramSession::SetUp();
        static int next_port = 28541;
        ASSERT_TRUE(start("127.0.0.1:" + std::to_string(next_port++)));
        root = temp.path() + "\\save";
        ASSERT_TRUE(CreateDirectoryA(root.c_str(), nullptr));
        settings().localPath = root;
    }

    // Runs the command; when the chooser closes itself to re-open, the owner's
    // re-open request is handled too, until the driver is done.
    void choose_save_folder(UiDriver& user) {
        SendMessageA(window, WM_COMMAND, ID_SAVE_FOLDER, 0);
        ASSERT_TRUE(pump_until([&] { return user.done.load(); }));
        user.join();
        pump();
    }

    std::string menu_text() {
        char text[MAX_PATH] = {};
        GetMenuStringA(GetMenu(window), ID_SAVE_FOLDER, text, sizeof text, MF_BYCOMMAND);
        return text;
    }
};

TEST_F(FolderChooserTest, OkTakesTheChosenFolderEverywhere) {
    const std::string sub = root + "\\sub";
    ASSERT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
    settings().localPath = sub;
    UiDriver user([&](UiDriver& u) {
        HWND browser = u.wait_browser();
        ASSERT_TRUE(browser);
        HWND tree = u.tree_of(browser);
        EXPECT_EQ(u.label(tree, u.selected(tree)), "sub") << "opens at the save folder";
        u.select(tree, u.parent(tree, u.selected(tree)));
        u.click(browser, IDOK);
    });
    choose_save_folder(user);
    EXPECT_EQ(settings().localPath, root);
    EXPECT_EQ(status_text(2), "保存ﾌｫﾙﾀﾞ " + root);
    EXPECT_EQ(menu_text(), root);
    EXPECT_TRUE(prompter.shown.empty());
}

TEST_F(FolderChooserTest, CancelChangesNothing) {
    UiDriver user([](UiDriver& u) {
        HWND browser = u.wait_browser();
        ASSERT_TRUE(browser);
        u.click(browser, IDCANCEL);
    });
    choose_save_folder(user);
    EXPECT_EQ(settings().localPath, root);
}

TEST_F(FolderChooserTest, CreatingReopensAtTheSamePlaceWithTheNewFolderSelected) {
    RECT first{}, second{};
    std::string selected_after;
    UiDriver user([&](UiDriver& u) {
        HWND browser = u.wait_browser();
        ASSERT_TRUE(browser);
        GetWindowRect(browser, &first);
        ASSERT_TRUE(use_folder_menu(u, browser, kCreate));
        HWND name = u.wait_dialog(kFolderNameTitle);
        ASSERT_TRUE(name);
        EXPECT_EQ(u.text(name, IDC_FOLDER_NAME), "");
        u.type(name, IDC_FOLDER_NAME, "new\\");
        u.click(name, IDOK);
        HWND again = u.wait_browser(browser);
        ASSERT_TRUE(again);
        EXPECT_FALSE(IsWindow(browser));
        GetWindowRect(again, &second);
        HWND tree = u.tree_of(again);
        selected_after = u.label(tree, u.selected(tree));
        u.click(again, IDOK);
    });
    choose_save_folder(user);
    EXPECT_TRUE(is_folder(root + "\\new"));
    EXPECT_EQ(selected_after, "new");
    EXPECT_TRUE(EqualRect(&first, &second)) << first.left << "," << first.top << " / " << second.left << ","
                                            << second.top;
    EXPECT_EQ(settings().localPath, root + "\\new") << "the re-opened browser's choice counts";
    EXPECT_EQ(menu_text(), root + "\\new");
}

TEST_F(FolderChooserTest, AShiftJisNameEndingInTheBackslashByteIsCreatedAndDeleted) {
    std::string created_label, parent_label;
    UiDriver user([&](UiDriver& u) {
        HWND browser = u.wait_browser();
        ASSERT_TRUE(browser);
        ASSERT_TRUE(use_folder_menu(u, browser, kCreate));
        HWND name = u.wait_dialog(kFolderNameTitle);
        ASSERT_TRUE(name);
        u.type(name, IDC_FOLDER_NAME, kSo + "\\");  // the typed backslash goes, the character stays
        u.click(name, IDOK);
        HWND again = u.wait_browser(browser);
        ASSERT_TRUE(again);
        HWND tree = u.tree_of(again);
        created_label = u.label(tree, u.selected(tree));
        // Deleting it selects its parent, cut at the real backslash.
        ASSERT_TRUE(use_folder_menu(u, again, kDelete));
        HWND third = u.wait_browser(again);
        ASSERT_TRUE(third);
        tree = u.tree_of(third);
        parent_label = u.label(tree, u.selected(tree));
        u.click(third, IDOK);
    });
    choose_save_folder(user);
    EXPECT_EQ(created_label, kSo);
    EXPECT_EQ(parent_label, "save");
    EXPECT_FALSE(is_folder(root + "\\" + kSo));
    EXPECT_EQ(settings().localPath, root);
    EXPECT_TRUE(prompter.shown.empty());
}

TEST_F(FolderChooserTest, ANonEmptyFolderIsNotDeleted) {
    ASSERT_TRUE(testing::write_file(root + "\\page.html", "x"));
    bool stayed = false;
    UiDriver user([&](UiDriver& u) {
        HWND browser = u.wait_browser();
        ASSERT_TRUE(browser);
        ASSERT_TRUE(use_folder_menu(u, browser, kDelete));
        Sleep(300);
        u.settle(browser);
        stayed = IsWindowVisible(browser) != FALSE;
        u.click(browser, IDCANCEL);
    });
    choose_save_folder(user);
    EXPECT_TRUE(stayed);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, "フォルダの削除に失敗しました。");
    EXPECT_EQ(prompter.shown[0].flags, static_cast<UINT>(MB_OK | MB_ICONWARNING | MB_SYSTEMMODAL));
    EXPECT_TRUE(is_folder(root));
}

TEST_F(FolderChooserTest, ADriveRootIsNotDeleted) {
    settings().localPath = "C:\\";
    UiDriver user([](UiDriver& u) {
        HWND browser = u.wait_browser();
        ASSERT_TRUE(browser);
        ASSERT_TRUE(use_folder_menu(u, browser, kDelete));
        Sleep(300);
        u.settle(browser);
        u.click(browser, IDCANCEL);
    });
    choose_save_folder(user);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, "ルートは削除できません。");
}

TEST_F(FolderChooserTest, APathTooLongForTheBufferIsNotCreated) {
    const std::string name(259, 'x');
    UiDriver user([&](UiDriver& u) {
        HWND browser = u.wait_browser();
        ASSERT_TRUE(browser);
        ASSERT_TRUE(use_folder_menu(u, browser, kCreate));
        HWND dialog = u.wait_dialog(kFolderNameTitle);
        ASSERT_TRUE(dialog);
        u.type(dialog, IDC_FOLDER_NAME, name + "yyy");  // OK takes 259 bytes of it
        u.click(dialog, IDOK);
        u.wait_gone(dialog);
        u.settle(browser);
        u.click(browser, IDCANCEL);
    });
    choose_save_folder(user);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, "フルパス名が長すぎてフォルダを作成できません。");
    EXPECT_EQ(testing::list_folder(root), std::vector<std::string>{});
}

TEST_F(FolderChooserTest, CancellingTheNameCreatesNothing) {
    bool stayed = false;
    UiDriver user([&](UiDriver& u) {
        HWND browser = u.wait_browser();
        ASSERT_TRUE(browser);
        ASSERT_TRUE(use_folder_menu(u, browser, kCreate));
        HWND dialog = u.wait_dialog(kFolderNameTitle);
        ASSERT_TRUE(dialog);
        u.type(dialog, IDC_FOLDER_NAME, "never");
        u.click(dialog, IDCANCEL);
        u.wait_gone(dialog);
        u.settle(browser);
        stayed = IsWindowVisible(browser) != FALSE;
        u.click(browser, IDCANCEL);
    });
    choose_save_folder(user);
    EXPECT_TRUE(stayed);
    EXPECT_TRUE(prompter.shown.empty());
    EXPECT_EQ(testing::list_folder(root), std::vector<std::string>{});
}

TEST_F(FolderChooserTest, OnlyTheSelectedFileSystemFolderHasTheMenu) {
    const std::string sub = root + "\\sub";
    ASSERT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
    settings().localPath = sub;
    bool menu_on_other = true, menu_on_space = true, menu_on_virtual = true;
    UiDriver user([&](UiDriver& u) {
        HWND browser = u.wait_browser();
        ASSERT_TRUE(browser);
        HWND tree = u.tree_of(browser);
        const HTREEITEM sub_item = u.selected(tree);
        // The parent is on screen, but not the selected item.
        u.right_click(tree, u.label_point(tree, u.parent(tree, sub_item)));
        menu_on_other = u.wait_menu(1500) != nullptr;
        RECT client{};
        GetClientRect(tree, &client);
        u.right_click(tree, POINT{client.right - 3, client.bottom - 3});
        menu_on_space = u.wait_menu(1500) != nullptr;
        // The computer has no file-system path.
        HTREEITEM item = sub_item;
        for (HTREEITEM up; (up = u.parent(tree, item)) && u.parent(tree, up);) item = up;
        u.select(tree, item);
        u.right_click(tree, u.label_point(tree, item));
        menu_on_virtual = u.wait_menu(1500) != nullptr;
    });
    choose_save_folder(user);
    EXPECT_FALSE(menu_on_other);
    EXPECT_FALSE(menu_on_space);
    EXPECT_FALSE(menu_on_virtual);
    EXPECT_TRUE(prompter.shown.empty());
}

TEST_F(FolderChooserTest, AVirtualItemIsNoSaveFolder) {
    UiDriver user([](UiDriver& u) {
        HWND browser = u.wait_browser();
        ASSERT_TRUE(browser);
        HWND tree = u.tree_of(browser);
        HTREEITEM item = u.selected(tree);
        // Up to the child of the desktop that holds the drives: the computer.
        for (HTREEITEM up; (up = u.parent(tree, item)) && u.parent(tree, up);) item = up;
        u.select(tree, item);
        u.click(browser, IDOK);
    });
    choose_save_folder(user);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, "保存フォルダが未指定です。");
    EXPECT_EQ(prompter.shown[0].flags, static_cast<UINT>(MB_OK | MB_ICONWARNING | MB_SYSTEMMODAL));
    EXPECT_EQ(settings().localPath, root);
}

// Another owner, as the auto-get settings dialog is: its own title, and the
// re-open request comes to it.
TEST(FolderChooser, AnyOwnerGetsTheReopenRequest) {
    testing::TempFolder temp;
    HWND owner = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    std::string title_shown;
    UiDriver user([&](UiDriver& u) {
        HWND browser = u.wait_browser();
        ASSERT_TRUE(browser);
        EXPECT_EQ(GetWindow(browser, GW_OWNER), owner);
        // The title stands in a static of the browser.
        for (HWND child = GetWindow(browser, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            if (UiDriver::window_title(child) == "自動取得の保存先を指定してください") title_shown = "found";
        }
        ASSERT_TRUE(use_folder_menu(u, browser, kCreate));
        HWND name = u.wait_dialog(kFolderNameTitle);
        ASSERT_TRUE(name);
        u.type(name, IDC_FOLDER_NAME, "job");
        u.click(name, IDOK);
    });
    std::string chosen = "unchanged";
    EXPECT_EQ(choose_folder(owner, "自動取得の保存先を指定してください", temp.path(), chosen), kFolderNotChosen);
    user.join();
    EXPECT_EQ(chosen, "unchanged");
    EXPECT_EQ(title_shown, "found");
    EXPECT_TRUE(is_folder(temp.path() + "\\job"));
    MSG message{};
    EXPECT_TRUE(PeekMessageA(&message, owner, kReopenFolderMessage, kReopenFolderMessage, PM_REMOVE));
    EXPECT_EQ(message.wParam, 0u);
    EXPECT_EQ(message.lParam, 0);

    // The owner opens it again without a start folder: the new folder is selected.
    UiDriver again([](UiDriver& u) {
        HWND browser = u.wait_browser();
        ASSERT_TRUE(browser);
        HWND tree = u.tree_of(browser);
        EXPECT_EQ(u.label(tree, u.selected(tree)), "job");
        u.click(browser, IDOK);
    });
    EXPECT_EQ(choose_folder(owner, "自動取得の保存先を指定してください", std::nullopt, chosen), kFolderChosen);
    again.join();
    EXPECT_EQ(chosen, temp.path() + "\\job");
    DestroyWindow(owner);
}

}  // namespace
}  // namespace vellum
