// Recorded pages on real files in a temporary save folder.
#include "store/recorded_page_win.h"

#include <gtest/gtest.h>

#include "http/http_date.h"
#include "store/recorded_page.h"
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
        std::string bytes(100000, '\0');
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

}  // namespace
}  // namespace vellum
