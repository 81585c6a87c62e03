// Recorded pages on real files in a temporary save folder.
#include "store/recorded_page_win.h"

#include <gtest/gtest.h>

#include "http/http_date.h"
#include "store/recorded_page.h"
#include "tests/support/small_disk_win.h"
#include "tests/support/temp_folder_win.h"

namespace vellum {
namespace {

using testing::file_exists;
using testing::list_folder;
using testing::read_file;
using testing::TempFolder;
using testing::write_file;

class RecordedPageTest : public ::testing::Test {
protected:
    TempFolder save;
    ParsedUrl url = parse_url("http://server/dir/page.html").value();
    std::string host_folder() const { return save.path() + "\\server\\dir"; }
    std::string page_path() const { return host_folder() + "\\page.html"; }

    void SetUp() override {
        CreateDirectoryA((save.path() + "\\server").c_str(), nullptr);
        CreateDirectoryA(host_folder().c_str(), nullptr);
    }

    // Records `body` as the server's 200 answer, as the proxy does.
    void record(const std::string& body, std::optional<std::string> type, std::optional<std::string> date) {
        ServerResponse response;
        response.status = 200;
        response.content_type = std::move(type);
        if (date) {
            FileTime t = 0;
            response.last_modified_valid = parse_http_date(*date, t);
            response.last_modified_time = t;
        }
        const std::string receiving = receiving_file_name(page_path(), 104);
        ASSERT_TRUE(write_file(receiving, body));
        EXPECT_FALSE(commit_recorded_page(save.path(), url, response, receiving));
        EXPECT_FALSE(file_exists(receiving));
    }

    std::string body_of(const RecordedPage& page) {
        std::string bytes(1 << 20, '\0');
        DWORD read = 0;
        ReadFile(page.file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
        bytes.resize(read);
        return bytes;
    }
};

TEST_F(RecordedPageTest, RecordAndOpenRoundTrip) {
    record("<html>page</html>", "text/html; charset=Shift_JIS", "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(list_folder(host_folder()),
              (std::vector<std::string>{"page.html", "page.html(19941106084937 text%2Fhtml; charset=Shift_JIS)"}));
    auto page = open_recorded_page(save.path(), url);
    ASSERT_TRUE(page);
    EXPECT_EQ(page->header->lines,
              (LineList{"HTTP/1.0 200 OK\r\n", "Last-modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n",
                        "Content-length: 17\r\n", "Content-type: text/html; charset=Shift_JIS\r\n", "\r\n"}));
    EXPECT_EQ(body_of(*page), "<html>page</html>");
}

TEST_F(RecordedPageTest, UndatedAndUntypedPages) {
    record("abc", std::nullopt, std::nullopt);
    EXPECT_EQ(list_folder(host_folder()), (std::vector<std::string>{"page.html", "page.html(00000000000000 none)"}));
    auto page = open_recorded_page(save.path(), url);
    ASSERT_TRUE(page);
    EXPECT_EQ(page->header->lines, (LineList{"HTTP/1.0 200 OK\r\n", "Content-length: 3\r\n", "\r\n"}));
    EXPECT_FALSE(page->header->last_modified_valid);
}

TEST_F(RecordedPageTest, OddTypesStillFindThePage) {
    // An empty type, and types whose lead bytes have no trail byte: the file
    // system pairs such a lead byte with the byte after it, ")" included.
    for (std::string type : {"", "text\x81", "a\x81(b)", "\x81%41"}) {
        record("abc", type, std::nullopt);
        auto page = open_recorded_page(save.path(), url);
        ASSERT_TRUE(page) << type;
        EXPECT_EQ(page->header->content_type, type.empty() ? std::nullopt : std::optional(type));
    }
}

TEST_F(RecordedPageTest, EmptyBodiesAndMissingCompanionsAreNotRecorded) {
    write_file(page_path(), "");
    write_file(page_path() + "(19941106084937 text%2Fhtml)", "");
    EXPECT_FALSE(open_recorded_page(save.path(), url));
    write_file(page_path(), "body");
    EXPECT_TRUE(open_recorded_page(save.path(), url));
    DeleteFileA((page_path() + "(19941106084937 text%2Fhtml)").c_str());
    EXPECT_FALSE(open_recorded_page(save.path(), url));
    CreateDirectoryA((save.path() + "\\server\\dir\\folder").c_str(), nullptr);
    write_file(save.path() + "\\server\\dir\\folder(00000000000000 none)", "");
    EXPECT_FALSE(open_recorded_page(save.path(), parse_url("http://server/dir/folder").value()));
}

TEST_F(RecordedPageTest, TheLaterCompanionWins) {
    write_file(page_path(), "body");
    write_file(page_path() + "(19941106084937 text%2Fplain)", "");
    write_file(page_path() + "(20011106084937 text%2Fhtml)", "");
    auto page = open_recorded_page(save.path(), url);
    ASSERT_TRUE(page);
    EXPECT_EQ(page->header->content_type, "text/html");
    EXPECT_EQ(page->header->last_modified, "Tue, 06 Nov 2001 08:49:37 GMT");
}

TEST_F(RecordedPageTest, LookAlikePagesAreNeitherTakenNorDeleted) {
    const ParsedUrl a = parse_url("http://server/dir/a").value();
    write_file(host_folder() + "\\a", "page a");
    write_file(host_folder() + "\\a(1).html", "another page");
    EXPECT_FALSE(open_recorded_page(save.path(), a));
    write_file(host_folder() + "\\a(00000000000000 none)", "");
    auto page = open_recorded_page(save.path(), a);
    ASSERT_TRUE(page);
    page.reset();
    EXPECT_TRUE(delete_recorded_page(save.path(), a));
    EXPECT_EQ(list_folder(host_folder()), (std::vector<std::string>{"a(1).html"}));
}

TEST_F(RecordedPageTest, RecordingReplacesPageAndCompanionTogether) {
    record("old body", "text/plain", "Sun, 06 Nov 1994 08:49:37 GMT");
    record("new body", "text/html", "Mon, 07 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(list_folder(host_folder()),
              (std::vector<std::string>{"page.html", "page.html(19941107084937 text%2Fhtml)"}));
    EXPECT_EQ(read_file(page_path()), "new body");
}

TEST_F(RecordedPageTest, ARedirectCommitWritesOnlyTheRedirectFile) {
    record("page", "text/html", std::nullopt);
    const std::string receiving = receiving_file_name(page_path(), 7);
    write_file(receiving, "HTTP/1.0 301 Moved\r\nLocation: http://x/\r\n\r\nmoved");
    auto redirect = redirect_file_name(save.path(), url);
    ASSERT_TRUE(redirect);
    EXPECT_FALSE(commit_redirect(*redirect, receiving));
    EXPECT_EQ(list_folder(host_folder()), (std::vector<std::string>{"page.html", "page.html(00000000000000 text%2Fhtml)",
                                                                    "page.html.response"}));
    EXPECT_EQ(read_file(*redirect), "HTTP/1.0 301 Moved\r\nLocation: http://x/\r\n\r\nmoved");
}

TEST_F(RecordedPageTest, AnUndeletableCompanionDoesNotHangDeletion) {
    record("body", "text/html", std::nullopt);
    const std::string companion = page_path() + "(00000000000000 text%2Fhtml)";
    HANDLE held = CreateFileA(companion.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(delete_recorded_page(save.path(), url));
    CloseHandle(held);
    EXPECT_FALSE(file_exists(page_path()));
}

TEST_F(RecordedPageTest, AFailedCommitKeepsTheOldRecordingWhole) {
    record("old body", "text/plain", "Sun, 06 Nov 1994 08:49:37 GMT");
    // A reader holds the page open: the new body can't be put in place.
    HANDLE reader = CreateFileA(page_path().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    ServerResponse response;
    response.status = 200;
    response.content_type = "text/html";
    const std::string receiving = receiving_file_name(page_path(), 9);
    write_file(receiving, "new body");
    auto failure = commit_recorded_page(save.path(), url, response, receiving);
    CloseHandle(reader);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->path, page_path());
    EXPECT_NE(failure->error, 0u);
    EXPECT_EQ(list_folder(host_folder()),
              (std::vector<std::string>{"page.html", "page.html(19941106084937 text%2Fplain)"}));
    EXPECT_EQ(read_file(page_path()), "old body");
}

TEST_F(RecordedPageTest, FoldersAreMadeForANewPage) {
    const ParsedUrl deep = parse_url("http://other:8080/a/b/c.gif").value();
    ServerResponse response;
    response.status = 200;
    response.content_type = "image/gif";
    const std::string receiving = save.path() + "\\receiving";
    write_file(receiving, "GIF89a");
    EXPECT_FALSE(commit_recorded_page(save.path(), deep, response, receiving));
    EXPECT_EQ(read_file(save.path() + "\\other%3A8080\\a\\b\\c.gif"), "GIF89a");
    EXPECT_TRUE(open_recorded_page(save.path(), deep));
}

// --- a commit stopped at every step, as a crash or a power cut stops it ---------

struct Version {
    std::string body;
    std::string type;
    std::string date;
};

class InterruptedCommitTest : public RecordedPageTest {
protected:
    ServerResponse response_for(const Version& v) {
        ServerResponse response;
        response.status = 200;
        response.content_type = v.type;
        FileTime t = 0;
        response.last_modified_valid = parse_http_date(v.date, t);
        response.last_modified_time = t;
        return response;
    }
    // The new body in its receiving file, committed until the probe says stop.
    void commit_until(const Version& v, std::optional<CommitStep> stop_after) {
        const std::string receiving = receiving_file_name(page_path(), 104);
        ASSERT_TRUE(write_file(receiving, v.body));
        CommitProbe probe = [stop_after](CommitStep step) { return step != stop_after; };
        EXPECT_FALSE(commit_recorded_page(save.path(), url, response_for(v), receiving, probe));
    }
    // Which version a reader gets, checking it is that version whole: its
    // body, its date and its type.
    std::string read_version(const Version& old_version, const Version& new_version) {
        auto page = open_recorded_page(save.path(), url);
        if (!page) return "none";
        const std::string body = body_of(*page);
        for (const Version* v : {&old_version, &new_version}) {
            if (body != v->body) continue;
            EXPECT_EQ(page->header->content_type, v->type);
            EXPECT_EQ(page->header->last_modified, v->date);
            EXPECT_EQ(page->header->content_length, static_cast<std::int32_t>(v->body.size()));
            return v == &old_version ? "old" : "new";
        }
        ADD_FAILURE() << "a body that is neither version: " << body;
        return "mixed";
    }
};

constexpr CommitStep kAllSteps[] = {CommitStep::pruned,           CommitStep::staged,
                                    CommitStep::marked,           CommitStep::companion_created,
                                    CommitStep::body_replaced,    CommitStep::old_companion_deleted,
                                    CommitStep::marker_deleted};

TEST_F(InterruptedCommitTest, EveryStopReadsAsOneWholeVersionAndIsTidiedOnTheNextLookUp) {
    const Version v1994{"old body of the page", "text/plain", "Sun, 06 Nov 1994 08:49:37 GMT"};
    const Version v2024{"the new body", "text/html", "Mon, 01 Jan 2024 00:00:00 GMT"};
    // A newer and an older server date: the new companion's name sorts after
    // the old one's, then before it.
    for (const auto& [old_version, new_version] : {std::pair(v1994, v2024), std::pair(v2024, v1994)}) {
        for (CommitStep stop : kAllSteps) {
            SCOPED_TRACE(static_cast<int>(stop));
            for (const std::string& name : list_folder(host_folder())) DeleteFileA((host_folder() + "\\" + name).c_str());
            commit_until(old_version, std::nullopt);
            commit_until(new_version, stop);
            const std::string expected = stop >= CommitStep::body_replaced ? "new" : "old";
            EXPECT_EQ(read_version(old_version, new_version), expected);
            // The look-up finished or undid the commit: one page, one companion.
            const std::vector<std::string> left = list_folder(host_folder());
            EXPECT_EQ(left.size(), 2u) << ::testing::PrintToString(left);
            EXPECT_EQ(left.at(0), "page.html");
            EXPECT_EQ(read_version(old_version, new_version), expected);
            // And the next recording starts from a clean state.
            commit_until(new_version, std::nullopt);
            EXPECT_EQ(read_version(old_version, new_version), "new");
            EXPECT_EQ(list_folder(host_folder()).size(), 2u);
        }
    }
}

TEST_F(InterruptedCommitTest, WithTheSameDateAndTypeTheBodyChangesInOneMove) {
    const Version first{"first body", "text/html", "Sun, 06 Nov 1994 08:49:37 GMT"};
    const Version second{"second, longer body", "text/html", "Sun, 06 Nov 1994 08:49:37 GMT"};
    commit_until(first, std::nullopt);
    std::vector<CommitStep> seen;
    const std::string receiving = receiving_file_name(page_path(), 105);
    ASSERT_TRUE(write_file(receiving, second.body));
    EXPECT_FALSE(commit_recorded_page(save.path(), url, response_for(second), receiving, [&seen](CommitStep step) {
        seen.push_back(step);
        return true;
    }));
    EXPECT_EQ(seen, (std::vector<CommitStep>{CommitStep::pruned, CommitStep::body_replaced}));
    EXPECT_EQ(read_version(first, second), "new");
    commit_until(first, CommitStep::pruned);
    EXPECT_EQ(read_version(first, second), "new");
}

TEST_F(InterruptedCommitTest, LeftoverReceivingFilesGoWhenTheirPageIsLookedUpButNotLiveOnes) {
    commit_until(Version{"body", "text/html", "Sun, 06 Nov 1994 08:49:37 GMT"}, std::nullopt);
    const std::string dead = receiving_file_name(page_path(), 300);
    const std::string live = receiving_file_name(page_path(), 301);
    write_file(dead, "left by a crash");
    FileHandle writing(CreateFileA(live.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writing);
    // Another URL's page whose name looks like a receiving file stays too.
    write_file(page_path() + ".#00302#", "a page");
    write_file(page_path() + ".#00302#(00000000000000 none)", "");
    EXPECT_TRUE(open_recorded_page(save.path(), url));
    EXPECT_FALSE(file_exists(dead));
    EXPECT_TRUE(file_exists(live));
    EXPECT_TRUE(file_exists(page_path() + ".#00302#"));
    writing.reset();
    tidy_recorded_page(page_path());
    EXPECT_FALSE(file_exists(live));
}

TEST_F(InterruptedCommitTest, AFullDiskDuringTheTransferOrTheCommitKeepsAWholeVersion) {
    // A 100 KiB page and its new 700 KiB version. On a 512 KiB disk the new
    // body does not fit and its write fails: nothing is committed, the old
    // page stays. On a 1 MiB disk it just fits, and the commit needs no room
    // besides: a copy into the page file would have run out of disk part way.
    for (const char* size : {"512k", "1m"}) {
        testing::SmallDisk disk(size);
        if (!disk.mounted()) GTEST_SKIP() << "no small tmpfs could be mounted (needs root under Wine)";
        const std::string page = disk.path() + "\\server\\dir\\page.html";
        CreateDirectoryA((disk.path() + "\\server").c_str(), nullptr);
        CreateDirectoryA((disk.path() + "\\server\\dir").c_str(), nullptr);
        const Version old_version{std::string(100 * 1024, 'o'), "text/plain", "Sun, 06 Nov 1994 08:49:37 GMT"};
        const Version new_version{std::string(700 * 1024, 'n'), "text/html", "Mon, 01 Jan 2024 00:00:00 GMT"};
        const std::string receiving = receiving_file_name(page, 104);
        ASSERT_TRUE(write_file(receiving, old_version.body));
        ASSERT_FALSE(commit_recorded_page(disk.path(), url, response_for(old_version), receiving));

        const bool fits = write_file(receiving, new_version.body);
        EXPECT_EQ(fits, std::string(size) == "1m");
        if (fits) {
            EXPECT_FALSE(commit_recorded_page(disk.path(), url, response_for(new_version), receiving));
        } else {
            DeleteFileA(receiving.c_str());  // what the connection does with a failed transfer
        }
        auto recorded = open_recorded_page(disk.path(), url);
        ASSERT_TRUE(recorded);
        const Version& expected = fits ? new_version : old_version;
        const std::string body = body_of(*recorded);
        EXPECT_TRUE(body == expected.body) << body.size() << " bytes served";
        EXPECT_EQ(recorded->header->last_modified, expected.date);
        recorded.reset();
        EXPECT_EQ(list_folder(disk.path() + "\\server\\dir").size(), 2u);
    }
}

TEST_F(InterruptedCommitTest, ADiskOutOfFilesAtAnyStepOfTheCommitKeepsAWholeVersion) {
    // A commit makes two empty files (its marker, the new companion); a disk
    // that can hold no more files fails one of them. Each limit below lets
    // the commit get one file further: every outcome must read as one whole
    // version, the new one exactly when the commit reported success, and the
    // look-up must leave only the page and its companion.
    const Version old_version{"old body", "text/plain", "Sun, 06 Nov 1994 08:49:37 GMT"};
    const Version new_version{"the new body", "text/html", "Mon, 01 Jan 2024 00:00:00 GMT"};
    int committed = 0;
    int refused = 0;
    for (int files = 5; files <= 10; ++files) {
        SCOPED_TRACE(files);
        testing::SmallDisk disk("1m,nr_inodes=" + std::to_string(files));
        if (!disk.mounted()) GTEST_SKIP() << "no small tmpfs could be mounted (needs root under Wine)";
        const std::string dir = disk.path() + "\\server\\dir";
        const std::string page = dir + "\\page.html";
        CreateDirectoryA((disk.path() + "\\server").c_str(), nullptr);
        CreateDirectoryA(dir.c_str(), nullptr);
        // The first recording, made while the disk still has room for it.
        const std::string receiving = receiving_file_name(page, 104);
        if (!write_file(receiving, old_version.body) ||
            commit_recorded_page(disk.path(), url, response_for(old_version), receiving)) {
            continue;
        }
        if (!write_file(receiving, new_version.body)) continue;
        const bool failed = commit_recorded_page(disk.path(), url, response_for(new_version), receiving).has_value();
        ++(failed ? refused : committed);
        auto recorded = open_recorded_page(disk.path(), url);
        ASSERT_TRUE(recorded);
        const Version& expected = failed ? old_version : new_version;
        EXPECT_EQ(body_of(*recorded), expected.body);
        EXPECT_EQ(recorded->header->last_modified, expected.date);
        EXPECT_EQ(recorded->header->content_type, expected.type);
        recorded.reset();
        EXPECT_EQ(list_folder(dir).size(), 2u) << ::testing::PrintToString(list_folder(dir));
    }
    // The limits reach both sides: commits refused for want of a file, and
    // commits with just enough.
    EXPECT_GE(refused, 2);
    EXPECT_GE(committed, 1);
}

}  // namespace
}  // namespace vellum
