// The cookie and credential files on a real file system: their bytes, a
// reload, and saves that fail part way (through the write seam, and on a
// small tmpfs that really fills up when the test runs as root under Wine).
#include "cookies/cookie_files_win.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/clock.h"
#include "tests/support/small_disk_win.h"
#include "tests/support/temp_folder_win.h"

namespace vellum {
namespace {

using testing::file_exists;
using testing::list_folder;
using testing::read_file;
using testing::TempFolder;
using testing::write_file;

class FixedClock : public Clock {
public:
    explicit FixedClock(FileTime now) : now_(now) {}
    FileTime now_utc() const override { return now_; }

private:
    FileTime now_;
};

// Sun, 06 Nov 2005 08:49:37 GMT
constexpr FileTime kNow = 127757405770000000;

class CookieFiles : public ::testing::Test {
protected:
    void SetUp() override { previous_clock_ = set_clock(&clock_); }
    void TearDown() override {
        set_clock(previous_clock_);
        set_file_write_function(nullptr);
    }

    std::string cookie_path() const { return path_in_folder(folder_.path(), kCookieFileName); }
    std::string credential_path() const { return path_in_folder(folder_.path(), kCredentialFileName); }

    TempFolder folder_;
    FixedClock clock_{kNow};
    const Clock* previous_clock_ = nullptr;
};

CookieJar sample_jar() {
    CookieJar jar;
    // A Secure cookie comes only from an https answer.
    cookie_jar_store(jar, "sid=値; path=/app; expires=Wed, 09 Jun 2021 10:18:14 GMT; secure", "www.h.test", true);
    cookie_jar_store(jar, "lang=ja; domain=.h.test", "www.h.test");
    cookie_jar_store(jar, "session=1", "www.h.test");
    cookie_jar_store(jar, "gone=1; expires=Sat, 05 Nov 2005 08:49:37 GMT", "www.h.test");
    return jar;
}

constexpr char kSampleJarFile[] =
    "sid=値; domain=www.h.test; path=/app; expires=Wed, 09 Jun 2021 10:18:14 GMT; secure\r\n"
    "session=1; domain=www.h.test; path=/\r\n"
    "lang=ja; domain=.h.test; path=/\r\n";

CredentialStore sample_store() {
    CredentialStore store;
    credentials_note_challenge(store, "learned.test", "Basic realm=\"x\"");
    credentials_put(store, "h.test:8080", "Basic realm=\"会員\"", "user", "pw");
    return store;
}

constexpr char kSampleCredentialFile[] = "h.test:8080\r\nBasic realm=\"会員\"\r\nuser\r\npw\r\n";

// Writes half of what it is given, then reports a failed write: a disk that
// filled up in the middle of the save.
bool fail_half_way(HANDLE file, const char* data, DWORD size) {
    DWORD written = 0;
    WriteFile(file, data, size / 2, &written, nullptr);
    SetLastError(ERROR_DISK_FULL);
    return false;
}

TEST(CookieFilePaths, FolderAndNameJoinOnceAtATrueBackslash) {
    EXPECT_EQ(path_in_folder("C:\\prog", "cookie"), "C:\\prog\\cookie");
    EXPECT_EQ(path_in_folder("C:\\", "cookie"), "C:\\cookie");
    // 表 ends in 0x5C, its trail byte, which is no separator.
    EXPECT_EQ(path_in_folder("C:\\表", "cookie"), "C:\\表\\cookie");
    const std::string folder = program_folder();
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), '\\');
    EXPECT_TRUE(file_exists(folder));
}

TEST_F(CookieFiles, SavedJarHasItsExactBytesAndReloadsTheSame) {
    CookieJar jar = sample_jar();
    ASSERT_TRUE(cookie_jar_save(jar, folder_.path()));
    EXPECT_EQ(read_file(cookie_path()), kSampleJarFile);
    EXPECT_EQ(list_folder(folder_.path()), std::vector<std::string>{"cookie"});

    CookieJar reloaded;
    cookie_jar_store(reloaded, "stale=1", "x.test");
    cookie_jar_load(reloaded, folder_.path());
    // The cookie that had expired by the save is the only difference.
    std::vector<CookieEntry> expected = cookie_jar_entries(jar);
    std::erase_if(expected, [](const CookieEntry& e) { return e.cookie.name == "gone"; });
    EXPECT_EQ(cookie_jar_entries(reloaded), expected);

    EXPECT_TRUE(cookie_jar_save_and_free(reloaded, folder_.path()));
    EXPECT_TRUE(reloaded.domains.empty());
    EXPECT_EQ(read_file(cookie_path()), kSampleJarFile);
}

TEST_F(CookieFiles, MissingFilesLoadEmpty) {
    CookieJar jar = sample_jar();
    cookie_jar_load(jar, folder_.path());
    EXPECT_TRUE(jar.domains.empty());
    CredentialStore store = sample_store();
    credentials_load(store, folder_.path());
    EXPECT_TRUE(store.hosts.empty());
}

TEST_F(CookieFiles, AnEmptyJarReplacesTheFileWithAnEmptyOne) {
    ASSERT_TRUE(write_file(cookie_path(), "a=1; domain=h.test; path=/\r\n"));
    CookieJar jar;
    EXPECT_TRUE(cookie_jar_save_and_free(jar, folder_.path()));
    EXPECT_EQ(read_file(cookie_path()), "");
}

TEST_F(CookieFiles, CredentialsSaveTheirCompleteEntriesAndReload) {
    CredentialStore store = sample_store();
    ASSERT_TRUE(credentials_save_and_free(store, folder_.path()));
    EXPECT_TRUE(store.hosts.empty());
    EXPECT_EQ(read_file(credential_path()), kSampleCredentialFile);

    credentials_load(store, folder_.path());
    EXPECT_EQ(credentials_basic_token(store, "h.test:8080", "Basic realm=\"会員\""), "dXNlcjpwdw==");
    EXPECT_EQ(credentials_hosts(store).size(), 1u);
    ASSERT_TRUE(credentials_save_and_free(store, folder_.path()));
    EXPECT_EQ(read_file(credential_path()), kSampleCredentialFile);
    EXPECT_EQ(list_folder(folder_.path()), std::vector<std::string>{"authenticate"});
}

TEST_F(CookieFiles, AFailedWriteKeepsThePreviousFilesWhole) {
    const std::string old_jar = "old=1; domain=h.test; path=/\r\n";
    const std::string old_credentials = "h.test\r\nBasic\r\nu\r\np\r\n";
    ASSERT_TRUE(write_file(cookie_path(), old_jar));
    ASSERT_TRUE(write_file(credential_path(), old_credentials));

    set_file_write_function(fail_half_way);
    CookieJar jar = sample_jar();
    EXPECT_FALSE(cookie_jar_save_and_free(jar, folder_.path()));
    EXPECT_TRUE(jar.domains.empty());
    CredentialStore store = sample_store();
    EXPECT_FALSE(credentials_save_and_free(store, folder_.path()));
    EXPECT_TRUE(store.hosts.empty());

    EXPECT_EQ(read_file(cookie_path()), old_jar);
    EXPECT_EQ(read_file(credential_path()), old_credentials);
    EXPECT_EQ(list_folder(folder_.path()), (std::vector<std::string>{"authenticate", "cookie"}));

    set_file_write_function(nullptr);
    jar = sample_jar();
    EXPECT_TRUE(cookie_jar_save(jar, folder_.path()));
    EXPECT_EQ(read_file(cookie_path()), kSampleJarFile);
}

TEST_F(CookieFiles, ANewFileThatCannotBeMadeKeepsTheOldOne) {
    ASSERT_TRUE(write_file(cookie_path(), "old=1; domain=h.test; path=/\r\n"));
    // A folder where the new file would go.
    ASSERT_TRUE(CreateDirectoryA((cookie_path() + kNewFileSuffix).c_str(), nullptr));
    CookieJar jar = sample_jar();
    EXPECT_FALSE(cookie_jar_save(jar, folder_.path()));
    EXPECT_EQ(read_file(cookie_path()), "old=1; domain=h.test; path=/\r\n");
}

TEST_F(CookieFiles, AStrayNewFileFromACrashIsIgnoredAndReplaced) {
    ASSERT_TRUE(write_file(cookie_path(), "old=1; domain=h.test; path=/\r\n"));
    ASSERT_TRUE(write_file(cookie_path() + kNewFileSuffix, "half=1; doma"));
    CookieJar jar;
    cookie_jar_load(jar, folder_.path());
    ASSERT_EQ(cookie_jar_entries(jar).size(), 1u);
    EXPECT_EQ(cookie_jar_entries(jar)[0].cookie.name, "old");
    ASSERT_TRUE(cookie_jar_save(jar, folder_.path()));
    EXPECT_EQ(list_folder(folder_.path()), std::vector<std::string>{"cookie"});
}

using testing::SmallDisk;

TEST_F(CookieFiles, AFullDiskKeepsThePreviousFilesWhole) {
    SmallDisk disk;
    if (!disk.mounted()) GTEST_SKIP() << "no small tmpfs could be mounted (needs root under Wine)";

    CookieJar jar = sample_jar();
    ASSERT_TRUE(cookie_jar_save(jar, disk.path()));
    CredentialStore store = sample_store();
    ASSERT_TRUE(credentials_save_and_free(store, disk.path()));

    // Twice the disk's size in cookies and in credentials.
    for (int i = 0; i < 2000; ++i) {
        const std::string name = "c" + std::to_string(i);
        cookie_jar_store(jar, name + "=" + std::string(40, 'v'), "www.h.test");
        credentials_put(store, "h" + std::to_string(i) + ".test", "Basic realm=\"big\"", std::string(40, 'u'), "p");
    }
    EXPECT_FALSE(cookie_jar_save_and_free(jar, disk.path()));
    EXPECT_FALSE(credentials_save_and_free(store, disk.path()));

    EXPECT_EQ(read_file(path_in_folder(disk.path(), kCookieFileName)), kSampleJarFile);
    EXPECT_EQ(read_file(path_in_folder(disk.path(), kCredentialFileName)), kSampleCredentialFile);
    EXPECT_EQ(list_folder(disk.path()), (std::vector<std::string>{"authenticate", "cookie"}));
}

}  // namespace
}  // namespace vellum
