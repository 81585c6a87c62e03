// create_file_with_folders and store paths on real files, in a folder of
// this test's own under the temporary folder.
#include "store/store_files_win.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/url_map.h"
#include "tests/core/path_check.h"

namespace vellum {
namespace {

void remove_tree(const std::string& folder) {
    WIN32_FIND_DATAA entry;
    FindHandle find(FindFirstFileA((folder + "\\*").c_str(), &entry));
    if (find) {
        do {
            const std::string name = entry.cFileName;
            if (name == "." || name == "..") continue;
            const std::string path = folder + "\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                remove_tree(path);
            } else {
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(find.get(), &entry));
    }
    find.reset();
    RemoveDirectoryA(folder.c_str());
}

std::vector<std::string> names_in(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    FindHandle find(FindFirstFileA((folder + "\\*").c_str(), &entry));
    if (!find) return names;
    do {
        const std::string name = entry.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(find.get(), &entry));
    return names;
}

bool is_folder(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool is_file(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void write_text(const FileHandle& file, const std::string& text) {
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
    ASSERT_EQ(written, text.size());
}

std::string read_text(const std::string& path) {
    FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return "<unreadable>";
    char buffer[256];
    DWORD read = 0;
    if (!ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr)) return "<unreadable>";
    return std::string(buffer, read);
}

ParsedUrl http_url(std::string host, std::string path) {
    ParsedUrl url;
    url.scheme = "http";
    url.host = std::move(host);
    url.path = std::move(path);
    return url;
}

class StoreFiles : public ::testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH];
        ASSERT_NE(GetTempPathA(sizeof temp, temp), 0u);
        root_ = std::string(temp) + "vellum-store-files-" + std::to_string(GetCurrentProcessId());
        remove_tree(root_);
        ASSERT_TRUE(CreateDirectoryA(root_.c_str(), nullptr));
    }
    void TearDown() override { remove_tree(root_); }

    std::string root_;
};

TEST_F(StoreFiles, MakesEveryMissingFolder) {
    const std::string path = root_ + "\\a\\b\\c\\page.html";
    {
        FileHandle file = create_file_with_folders(path);
        ASSERT_TRUE(file) << GetLastError();
        write_text(file, "body");
    }
    EXPECT_TRUE(is_folder(root_ + "\\a"));
    EXPECT_TRUE(is_folder(root_ + "\\a\\b"));
    EXPECT_TRUE(is_folder(root_ + "\\a\\b\\c"));
    EXPECT_EQ(read_text(path), "body");
}

TEST_F(StoreFiles, TrailByteBackslashNamesNoFolder) {
    // 表 is 0x95 0x5C; cutting at its trail byte would make a folder "\x95".
    const std::string path = root_ + "\\表\\x.txt";
    ASSERT_TRUE(create_file_with_folders(path)) << GetLastError();
    EXPECT_TRUE(is_folder(root_ + "\\表"));
    EXPECT_TRUE(is_file(path));
    EXPECT_EQ(names_in(root_), std::vector<std::string>{"表"});
}

TEST_F(StoreFiles, CreatesUnderADriveRoot) {
    // The folder lies right under the drive root, whose "X:" is never made.
    const std::string folder = root_.substr(0, 3) + "vellum-store-files-root-" +
                               std::to_string(GetCurrentProcessId());
    const std::string path = folder + "\\f.txt";
    {
        FileHandle file = create_file_with_folders(path);
        EXPECT_TRUE(file) << GetLastError();
    }
    EXPECT_TRUE(is_file(path));
    remove_tree(folder);
}

TEST_F(StoreFiles, TruncatesAnExistingFileAndLetsOthersRead) {
    const std::string path = root_ + "\\page.html";
    {
        FileHandle file = create_file_with_folders(path);
        ASSERT_TRUE(file);
        write_text(file, "first version");
    }
    FileHandle file = create_file_with_folders(path);
    ASSERT_TRUE(file);
    EXPECT_EQ(read_text(path), "");
    FileHandle writer(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_FALSE(writer);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
}

TEST_F(StoreFiles, FileWhereAFolderShouldBeFailsCleanly) {
    const std::string blocker = root_ + "\\blocker";
    ASSERT_TRUE(create_file_with_folders(blocker));
    SetLastError(0);
    FileHandle file = create_file_with_folders(blocker + "\\sub\\page.html");
    EXPECT_FALSE(file);
    EXPECT_NE(GetLastError(), 0u);
    EXPECT_TRUE(is_file(blocker));
}

TEST_F(StoreFiles, HostileUrlsAreWrittenInsideAsOrdinaryFiles) {
    const std::vector<ParsedUrl> urls = {
        http_url("server", "/../../x"), http_url("server", "/%2e%2E/%2E%2e/y"),
        http_url("..", "/..%5C..%5Cz"), http_url("server", "/CON"), http_url("server", "/nul.txt"),
        http_url("com1", "/LPT1/aux"), http_url("server", "/a./b "), http_url("server", "/.. /. ")};
    for (const ParsedUrl& url : urls) {
        const auto path = url_store_path(root_, url);
        ASSERT_TRUE(path) << *url.host << *url.path;
        EXPECT_EQ(test::store_path_fault(root_, *path), "") << *path;

        // The platform's own reading of the path must agree with the checker.
        char full[MAX_PATH];
        ASSERT_NE(GetFullPathNameA(path->c_str(), sizeof full, full, nullptr), 0u);
        EXPECT_EQ(std::string(full), *path);

        FileHandle file = create_file_with_folders(*path);
        ASSERT_TRUE(file) << *path << " error " << GetLastError();
        EXPECT_EQ(GetFileType(file.get()), static_cast<DWORD>(FILE_TYPE_DISK)) << *path;
        write_text(file, *url.path);
        file.reset();
        EXPECT_EQ(read_text(*path), *url.path);
    }
}

}  // namespace
}  // namespace vellum
