// The start-up sweep of a save folder left by a crash: a tree of recorded
// pages with receiving files, commits cut short at different steps, a
// receiving file still being written and pages whose names merely look like
// temporary ones.
#include "store/store_sweep_win.h"

#include <gtest/gtest.h>

#include "store/recorded_page.h"
#include "store/recorded_page_win.h"
#include "store/store_lock_win.h"
#include "tests/support/temp_folder_win.h"

namespace vellum {
namespace {

using testing::file_exists;
using testing::list_folder;
using testing::read_file;
using testing::TempFolder;
using testing::write_file;

class StoreSweepTest : public ::testing::Test {
protected:
    TempFolder save;
    StoreLock lock;

    void SetUp() override { install_store_lock(&lock); }
    void TearDown() override { install_store_lock(nullptr); }

    std::string folder(const std::string& relative) {
        std::string path = save.path();
        std::size_t start = 0;
        while (start <= relative.size()) {
            const std::size_t end = std::min(relative.find('\\', start), relative.size());
            path += "\\" + relative.substr(start, end - start);
            CreateDirectoryA(path.c_str(), nullptr);
            start = end + 1;
        }
        return path;
    }
};

TEST_F(StoreSweepTest, ClearsWhatACrashLeftAndNothingElse) {
    const std::string h = folder("h");
    // A recorded page with a dead receiving file beside it.
    write_file(h + "\\a.html", "page a");
    write_file(h + "\\a.html(19941106084937 text%2Fhtml)", "");
    write_file(h + "\\a.html.#00104#", "half a transfer");
    // A commit stopped after moving the new body in: finished.
    write_file(h + "\\b", "new b");
    write_file(h + "\\b(19941106084937 text%2Fplain)", "");
    write_file(h + "\\b(20240101000000 text%2Fhtml)", "");
    write_file(h + "\\b.#%commit#(20240101000000 text%2Fhtml)", "");
    // A commit stopped before: undone.
    write_file(h + "\\c", "old c");
    write_file(h + "\\c(20240101000000 text%2Fhtml)", "");
    write_file(h + "\\c(19941106084937 text%2Fplain)", "");
    write_file(h + "\\c.#%commit#(19941106084937 text%2Fplain)", "");
    write_file(h + "\\c.#%new#", "new c");
    // Deep down, a receiving file of a page never recorded; and one being written.
    const std::string deep = folder("h\\x\\y\\z");
    write_file(deep + "\\d.#01300#", "partial");
    HANDLE live = CreateFileA((deep + "\\e.#01301#").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(live, INVALID_HANDLE_VALUE);
    // Another URL's recorded page named like a receiving file.
    write_file(h + "\\f.#00007#", "a page");
    write_file(h + "\\f.#00007#(00000000000000 none)", "");

    StoreSweep sweep;
    ASSERT_TRUE(sweep.start(save.path() + "\\"));
    ASSERT_TRUE(sweep.wait(60000));
    CloseHandle(live);

    EXPECT_EQ(list_folder(h), (std::vector<std::string>{
                                  "a.html", "a.html(19941106084937 text%2Fhtml)", "b", "b(20240101000000 text%2Fhtml)",
                                  "c", "c(20240101000000 text%2Fhtml)", "f.#00007#", "f.#00007#(00000000000000 none)",
                                  "x"}));
    EXPECT_EQ(read_file(h + "\\b"), "new b");
    EXPECT_EQ(read_file(h + "\\c"), "old c");
    EXPECT_EQ(list_folder(deep), std::vector<std::string>{"e.#01301#"});
    EXPECT_GE(sweep.pages_tidied(), 5u);
}

TEST_F(StoreSweepTest, StopsWhenAsked) {
    for (int i = 0; i < 200; ++i) folder("t\\" + std::to_string(i) + "\\u\\v");
    StoreSweep sweep;
    ASSERT_TRUE(sweep.start(save.path()));
    sweep.stop();
    EXPECT_TRUE(sweep.wait(0));
    // A folder that is not there is swept in no time.
    ASSERT_TRUE(sweep.start(save.path() + "\\missing"));
    EXPECT_TRUE(sweep.wait(60000));
    EXPECT_EQ(sweep.pages_tidied(), 0u);
}

}  // namespace
}  // namespace vellum
