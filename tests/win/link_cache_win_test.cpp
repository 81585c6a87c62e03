// The link cache over real page files in a temporary save folder: what it
// takes for a recorded page's identity, and every way a page changes under it.
#include "autoget/link_cache_win.h"

#include <gtest/gtest.h>

#include "http/http_date.h"
#include "http/url_text.h"
#include "store/recorded_page.h"
#include "store/recorded_page_win.h"
#include "tests/support/temp_folder_win.h"

namespace vellum {
namespace {

using testing::TempFolder;
using testing::write_file;

constexpr char kDate[] = "Sun, 06 Nov 1994 08:49:37 GMT";

class RecordedPageLinksTest : public ::testing::Test {
protected:
    TempFolder save;
    ParsedUrl url = parse_url("http://server/dir/page.html").value();
    RecordedPageLinks pages;
    std::string host_folder() const { return save.path() + "\\server\\dir"; }
    std::string page_path() const { return host_folder() + "\\page.html"; }

    void SetUp() override {
        CreateDirectoryA((save.path() + "\\server").c_str(), nullptr);
        CreateDirectoryA(host_folder().c_str(), nullptr);
    }

    // Records `body` as the server's 200 answer, as the proxy does.
    void record(const std::string& body, std::optional<std::string> type = "text/html",
                std::optional<std::string> date = kDate) {
        ServerResponse response;
        response.status = 200;
        response.content_type = std::move(type);
        if (date) response.last_modified_valid = parse_http_date(*date, response.last_modified_time);
        const std::string receiving = receiving_file_name(page_path(), 104);
        ASSERT_TRUE(write_file(receiving, body));
        ASSERT_FALSE(commit_recorded_page(save.path(), url, response, receiving));
    }

    PageIdentity identity_now() {
        std::optional<OpenedPage> page = pages.open(save.path(), url);
        EXPECT_TRUE(page && page->identity);
        return page && page->identity ? *page->identity : PageIdentity{};
    }

    std::vector<std::string> links(LinkCache& cache) {
        LinkList found;
        cache.links_of(save.path(), url, found);
        std::vector<std::string> out;
        for (const LinkEntry& entry : found) out.push_back(url_text(entry.url).value());
        return out;
    }
};

TEST_F(RecordedPageLinksTest, AnOpenedPageReadsWholeAndIsUnchangedUntilSomethingChangesIt) {
    record("<a href=a.html>");
    std::optional<OpenedPage> page = pages.open(save.path(), url);
    ASSERT_TRUE(page && page->identity);
    EXPECT_EQ(15u, page->identity->size);
    EXPECT_EQ(page_path() + "(19941106084937 text%2Fhtml)", page->identity->companion);
    char bytes[64];
    EXPECT_EQ(15, page->source->read(bytes, sizeof bytes));
    EXPECT_EQ(0, page->source->read(bytes, sizeof bytes));
    EXPECT_TRUE(pages.unchanged(save.path(), url, *page->identity));
    EXPECT_TRUE(pages.unchanged(save.path(), url, *page->identity));
}

TEST_F(RecordedPageLinksTest, IdentifiesPagesWithoutDateOrTypeAndWithATypeTooLongForTheName) {
    record("<a href=a.html>", std::nullopt, std::nullopt);
    EXPECT_TRUE(pages.unchanged(save.path(), url, identity_now()));
    record("<a href=a.html>", "text/html; " + std::string(240, 'p'));
    const PageIdentity identity = identity_now();
    EXPECT_EQ(page_path() + "(19941106084937 text%2Fhtml)", identity.companion);
    EXPECT_TRUE(pages.unchanged(save.path(), url, identity));
}

TEST_F(RecordedPageLinksTest, ARecordingWithTheSameSizeDateAndTypeIsAChange) {
    record("<a href=a.html>");
    const PageIdentity before = identity_now();
    record("<a href=b.html>");  // keeps its companion
    EXPECT_EQ(before.companion, identity_now().companion);
    EXPECT_FALSE(pages.unchanged(save.path(), url, before));
}

TEST_F(RecordedPageLinksTest, AnotherProgramsChangesAreChanges) {
    record("<a href=a.html>");
    const PageIdentity before = identity_now();

    // Written over in place, same size: only the write time tells.
    {
        HANDLE file = CreateFileA(page_path().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        DWORD written = 0;
        WriteFile(file, "<a href=c.html>", 15, &written, nullptr);
        FILETIME later;
        const std::uint64_t time = before.writeTime + 10'000'000;  // a second on
        later.dwLowDateTime = static_cast<DWORD>(time);
        later.dwHighDateTime = static_cast<DWORD>(time >> 32);
        SetFileTime(file, nullptr, nullptr, &later);
        CloseHandle(file);
    }
    EXPECT_FALSE(pages.unchanged(save.path(), url, before));

    const PageIdentity rewritten = identity_now();
    ASSERT_TRUE(DeleteFileA(rewritten.companion.c_str()));
    EXPECT_FALSE(pages.unchanged(save.path(), url, rewritten));
    EXPECT_FALSE(pages.open(save.path(), url));

    record("<a href=d.html>");
    const PageIdentity last = identity_now();
    ASSERT_TRUE(DeleteFileA(page_path().c_str()));
    EXPECT_FALSE(pages.unchanged(save.path(), url, last));
    CreateDirectoryA(page_path().c_str(), nullptr);  // a folder where the page was
    EXPECT_FALSE(pages.unchanged(save.path(), url, last));
}

TEST_F(RecordedPageLinksTest, TheCacheReadsAPageRecordedAgainDuringTheRun) {
    LinkCache cache(pages);
    record("<a href=a.html>");
    EXPECT_EQ(std::vector<std::string>{"http://server/dir/a.html"}, links(cache));
    EXPECT_EQ(std::vector<std::string>{"http://server/dir/a.html"}, links(cache));
    record("<a href=b.html>");
    EXPECT_EQ(std::vector<std::string>{"http://server/dir/b.html"}, links(cache));
    EXPECT_EQ(1u, cache.counts().hits);
    EXPECT_EQ(2u, cache.counts().extractions);
}

}  // namespace
}  // namespace vellum
