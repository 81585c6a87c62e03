// The kept folder listings (store/folder_listing_win.h) against the plain
// listing: two save folders go through the same random operations, one with
// the store lock held (kept listings), one without (a listing at every
// look-up), while files are also created, deleted, renamed and rewritten
// behind the store's back; every look-up must read the same page and header,
// and both folders must hold the same files after every step.
#include "store/folder_listing_win.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "http/http_date.h"
#include "store/recorded_page.h"
#include "store/recorded_page_win.h"
#include "store/store_files_win.h"
#include "store/store_lock_win.h"
#include "store/url_map.h"
#include "tests/support/temp_folder_win.h"

namespace vellum {
namespace {

using testing::file_exists;
using testing::read_file;
using testing::TempFolder;
using testing::write_file;

ServerResponse answer(const std::string& type, const std::string& date) {
    ServerResponse response;
    response.status = 200;
    if (type != "none") response.content_type = type;
    FileTime time = 0;
    if (!date.empty()) {
        response.last_modified_valid = parse_http_date(date, time);
        response.last_modified_time = time;
    }
    return response;
}

std::string body_of(const RecordedPage& page) {
    std::string bytes;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(page.file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.append(buffer, read);
    return bytes;
}

// What a look-up read, as one comparable text.
std::string reading(const std::optional<RecordedPage>& page) {
    if (!page) return "none";
    return page->header->lines.join() + "|" + body_of(*page);
}

// Every file of a folder with its kind, size and content.
std::vector<std::string> contents(const std::string& folder) {
    std::vector<std::string> found;
    WIN32_FIND_DATAA data;
    FindHandle search(FindFirstFileA((folder + "\\*").c_str(), &data));
    if (!search) return found;
    do {
        const std::string name = data.cFileName;
        if (name == "." || name == "..") continue;
        const bool folder_entry = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        found.push_back(name + (folder_entry ? " <folder>" : " = " + read_file(folder + "\\" + name)));
    } while (FindNextFileA(search.get(), &data));
    std::sort(found.begin(), found.end());
    return found;
}

void move_folder_stamp(const std::string& folder, std::uint64_t seconds_back) {
    FileHandle handle(CreateFileA(folder.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(handle) << GetLastError();
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER time{{now.dwLowDateTime, now.dwHighDateTime}};
    time.QuadPart -= seconds_back * 10'000'000ull;
    FILETIME stamp{time.LowPart, time.HighPart};
    ASSERT_TRUE(SetFileTime(handle.get(), nullptr, nullptr, &stamp)) << GetLastError();
}

// The page names of the folder: two URLs that differ only in case (ASCII and
// full-width) share a file, and some names begin others'.
const char* const kUrls[] = {
    "http://server/dir/page.html", "http://server/dir/PAGE.html", "http://server/dir/page.htm",
    "http://server/dir/a",         "http://server/dir/a(1).html", "http://server/dir/%82%60.html",
    "http://server/dir/%82%81.html",
};
const char* const kPageNames[] = {"page.html", "page.htm", "a", "a(1).html", "\x82\x60.html", "page.html.#00302#"};
const char* const kTypes[] = {"text/html", "text/plain", "none", "image/png"};
const char* const kDates[] = {"Sun, 06 Nov 1994 08:49:37 GMT", "Mon, 01 Jan 2024 00:00:00 GMT", ""};
const char* const kBodies[] = {"", "a", "<html>the page</html>", "a longer body of a page, longer than the others"};
const char* const kCompanionTails[] = {"(19941106084937 text%2Fhtml)", "(20240101000000 text%2Fplain)",
                                       "(00000000000000 none)"};

class KeptListingTest : public ::testing::Test {
protected:
    TempFolder kept_save;
    TempFolder plain_save;
    StoreLock lock;

    void SetUp() override {
        install_store_lock(&lock);
        {
            StoreLockHold hold;
            forget_kept_listings();
        }
        for (const TempFolder* save : {&kept_save, &plain_save}) {
            CreateDirectoryA((save->path() + "\\server").c_str(), nullptr);
            CreateDirectoryA((save->path() + "\\server\\dir").c_str(), nullptr);
        }
    }
    void TearDown() override {
        {
            StoreLockHold hold;
            forget_kept_listings();
        }
        install_store_lock(nullptr);
    }

    static std::string folder_of(const TempFolder& save) { return save.path() + "\\server\\dir"; }

    // Runs `operation` on both save folders: the kept one under the store
    // lock, the plain one without.
    template <typename Operation>
    void both(Operation operation) {
        {
            StoreLockHold hold;
            operation(kept_save.path());
        }
        operation(plain_save.path());
    }

    static std::string store_path(const std::string& save, const ParsedUrl& url) {
        return url_store_path(save, url).value();
    }

    // Records a version as the proxy does: the receiving file made under the
    // lock, written, then committed, the probe stopping it at `stop`.
    static void record(const std::string& save, const ParsedUrl& url, unsigned socket, const std::string& body,
                       const ServerResponse& response, std::optional<CommitStep> stop) {
        const std::string receiving = receiving_file_name(store_path(save, url), socket);
        {
            FileHandle file = create_file_with_folders(receiving);
            if (!file) return;
            DWORD written = 0;
            WriteFile(file.get(), body.data(), static_cast<DWORD>(body.size()), &written, nullptr);
        }
        commit_recorded_page(save, url, response, receiving, [stop](CommitStep step) { return step != stop; });
    }

    std::optional<RecordedPage> look_up(const std::string& save, const ParsedUrl& url, bool kept) {
        if (!kept) return open_recorded_page(save, url);
        StoreLockHold hold;
        return open_recorded_page(save, url);
    }

    void expect_same_folders(const std::string& after) {
        EXPECT_EQ(contents(folder_of(kept_save)), contents(folder_of(plain_save))) << after;
    }
};

TEST_F(KeptListingTest, RandomOperationsAndOutsideChangesReadAsThePlainListing) {
    std::mt19937 random(20261209);
    auto pick = [&random](std::size_t count) { return static_cast<std::size_t>(random() % count); };
    std::vector<ParsedUrl> urls;
    for (const char* text : kUrls) urls.push_back(parse_url(text).value());
    // Live receiving files: open without delete sharing, as a writer holds them.
    std::vector<std::pair<FileHandle, FileHandle>> live;
    std::size_t lookups = 0;
    std::size_t served = 0;

    for (int step = 0; step < 1500; ++step) {
        const std::size_t kind = pick(16);
        const ParsedUrl& url = urls[pick(urls.size())];
        std::string what = "step " + std::to_string(step) + " kind " + std::to_string(kind) + " " + url.path.value_or("");
        if (kind <= 3) {
            const std::string body = kBodies[pick(std::size(kBodies))];
            const ServerResponse response = answer(kTypes[pick(std::size(kTypes))], kDates[pick(std::size(kDates))]);
            std::optional<CommitStep> stop;
            if (pick(3) == 0) stop = static_cast<CommitStep>(pick(7));
            const unsigned socket = 104 + static_cast<unsigned>(pick(2));
            both([&](const std::string& save) { record(save, url, socket, body, response, stop); });
        } else if (kind <= 7) {
            const std::string kept = reading(look_up(kept_save.path(), url, true));
            const std::string plain = reading(look_up(plain_save.path(), url, false));
            ASSERT_EQ(kept, plain) << what;
            ++lookups;
            if (kept != "none") ++served;
        } else if (kind == 8) {
            both([&](const std::string& save) { tidy_recorded_page(store_path(save, url)); });
        } else if (kind == 9) {
            both([&](const std::string& save) { delete_recorded_page(save, url); });
        } else if (kind == 10) {
            // Outside: a name the look-ups care about appears, empty or not.
            const std::string page = kPageNames[pick(std::size(kPageNames))];
            std::string name = page;
            switch (pick(5)) {
            case 0: name += kCompanionTails[pick(std::size(kCompanionTails))]; break;
            case 1: name += std::string(".#%commit#") + kCompanionTails[pick(std::size(kCompanionTails))]; break;
            case 2: name += ".#%new#"; break;
            case 3: name += ".#0030" + std::to_string(pick(3)) + "#"; break;
            default: break;
            }
            const std::string content = pick(2) ? "" : "outside";
            what += " create " + name;
            both([&](const std::string& save) { write_file(save + "\\server\\dir\\" + name, content); });
        } else if (kind == 11 || kind == 12) {
            // Outside: an existing file deleted, renamed or rewritten.
            const std::vector<std::string> names = testing::list_folder(folder_of(plain_save));
            if (names.empty()) continue;
            const std::string name = names[pick(names.size())];
            const std::string target = std::string(kPageNames[pick(std::size(kPageNames))]) +
                                       (pick(2) ? kCompanionTails[pick(std::size(kCompanionTails))] : "");
            const std::size_t change = pick(3);
            const std::string content = pick(2) ? "" : "rewritten";
            what += " change " + std::to_string(change) + " " + name + " -> " + target;
            both([&](const std::string& save) {
                const std::string folder = save + "\\server\\dir\\";
                if (change == 0) {
                    if (!DeleteFileA((folder + name).c_str())) RemoveDirectoryA((folder + name).c_str());
                } else if (change == 1) {
                    MoveFileExA((folder + name).c_str(), (folder + target).c_str(), MOVEFILE_REPLACE_EXISTING);
                } else if (!(GetFileAttributesA((folder + name).c_str()) & FILE_ATTRIBUTE_DIRECTORY)) {
                    // Content alone: the folder's stamp stays where it was.
                    write_file(folder + name, content);
                }
            });
        } else if (kind == 13) {
            // Outside: a folder where a page could be, made or removed.
            const std::string name = kPageNames[pick(std::size(kPageNames))];
            both([&](const std::string& save) {
                const std::string path = save + "\\server\\dir\\" + name;
                if (!RemoveDirectoryA(path.c_str())) CreateDirectoryA(path.c_str(), nullptr);
            });
        } else if (kind == 14) {
            // A receiving file still being written, or the end of one.
            if (!live.empty() && pick(2)) {
                live.erase(live.begin() + static_cast<long>(pick(live.size())));
                continue;
            }
            const std::string name = std::string(kPageNames[pick(3)]) + ".#0040" + std::to_string(pick(3)) + "#";
            std::pair<FileHandle, FileHandle> writers;
            for (const TempFolder* save : {&kept_save, &plain_save}) {
                FileHandle& writer = save == &kept_save ? writers.first : writers.second;
                writer.reset(CreateFileA((folder_of(*save) + "\\" + name).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
            }
            live.push_back(std::move(writers));
        } else {
            // The folder's stamp set back, as a program restoring times does:
            // an old stamp, believed at once by its age.
            const std::uint64_t back = 10 + pick(1000);
            for (const TempFolder* save : {&kept_save, &plain_save}) move_folder_stamp(folder_of(*save), back);
        }
        expect_same_folders(what);
        if (HasFailure()) return;
    }
    // The run must have exercised the interesting paths: pages served, and
    // page files read from kept names as well as from fresh listings.
    EXPECT_GT(served, lookups / 10);
    StoreLockHold hold;
    const KeptListingCounts counts = kept_listing_counts();
    std::printf("%zu look-ups (%zu served); %zu page listings answered from kept names, %zu full listings\n", lookups,
                served, counts.answered, counts.listings);
    EXPECT_GT(counts.answered, counts.listings / 2);
    EXPECT_GT(counts.listings, lookups / 10);
}

TEST_F(KeptListingTest, AfterACommitLookUpsNoLongerListTheFolder) {
    const ParsedUrl url = parse_url("http://server/dir/page.html").value();
    for (int i = 0; i < 200; ++i) write_file(folder_of(kept_save) + "\\other" + std::to_string(i) + ".html", "x");
    StoreLockHold hold;
    // Commits whose writes show the folder's clock (StampTrust), a new date
    // or type each time so that every commit goes through all its steps.
    for (int i = 0; i < 3; ++i) {
        record(kept_save.path(), url, 104, "body", answer(kTypes[i], kDates[0]), std::nullopt);
    }
    const std::size_t before = kept_listing_counts().listings;
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(open_recorded_page(kept_save.path(), url));
    tidy_recorded_page(store_path(kept_save.path(), url));
    record(kept_save.path(), url, 105, "new body", answer("text/plain", kDates[1]), std::nullopt);
    EXPECT_EQ(reading(open_recorded_page(kept_save.path(), url)),
              "HTTP/1.0 200 OK\r\nLast-modified: Mon, 01 Jan 2024 00:00:00 GMT\r\nContent-length: 8\r\n"
              "Content-type: text/plain\r\n\r\n|new body");
    // At most the one listing the first look-up after the commit may need.
    EXPECT_LE(kept_listing_counts().listings - before, 1u);
}

TEST_F(KeptListingTest, ChangesBehindTheStoresBackAreSeenAtTheNextLookUp) {
    const ParsedUrl url = parse_url("http://server/dir/page.html").value();
    const std::string page = folder_of(kept_save) + "\\page.html";
    StoreLockHold hold;
    record(kept_save.path(), url, 104, "body", answer("text/html", kDates[0]), std::nullopt);
    ASSERT_TRUE(open_recorded_page(kept_save.path(), url));

    // A later companion appears.
    write_file(page + "(20240101000000 text%2Fplain)", "");
    auto later = open_recorded_page(kept_save.path(), url);
    ASSERT_TRUE(later);
    EXPECT_EQ(later->header->content_type, "text/plain");
    later.reset();
    // The page rewritten in place, then emptied: no folder stamp moves.
    write_file(page, "rewritten body");
    EXPECT_EQ(body_of(*open_recorded_page(kept_save.path(), url)), "rewritten body");
    write_file(page, "");
    EXPECT_FALSE(open_recorded_page(kept_save.path(), url));
    write_file(page, "again");
    ASSERT_TRUE(open_recorded_page(kept_save.path(), url));
    // The companion given content is no companion any more.
    write_file(page + "(20240101000000 text%2Fplain)", "not empty");
    EXPECT_EQ(open_recorded_page(kept_save.path(), url)->header->content_type, "text/html");
    write_file(page + "(19941106084937 text%2Fhtml)", "not empty");
    EXPECT_FALSE(open_recorded_page(kept_save.path(), url));
}

TEST_F(KeptListingTest, AFolderDeletedAndMadeAgainIsListedAfresh) {
    const ParsedUrl url = parse_url("http://server/dir/page.html").value();
    StoreLockHold hold;
    record(kept_save.path(), url, 104, "first", answer("text/html", kDates[0]), std::nullopt);
    ASSERT_TRUE(open_recorded_page(kept_save.path(), url));
    const std::string folder = folder_of(kept_save);
    testing::remove_tree(folder);
    EXPECT_FALSE(open_recorded_page(kept_save.path(), url));
    CreateDirectoryA(folder.c_str(), nullptr);
    write_file(folder + "\\page.html", "second");
    write_file(folder + "\\page.html(20240101000000 text%2Fplain)", "");
    auto page = open_recorded_page(kept_save.path(), url);
    ASSERT_TRUE(page);
    EXPECT_EQ(body_of(*page), "second");
    EXPECT_EQ(page->header->content_type, "text/plain");
}

TEST_F(KeptListingTest, WithoutTheStoreLockNothingIsKept) {
    const ParsedUrl url = parse_url("http://server/dir/page.html").value();
    record(plain_save.path(), url, 104, "body", answer("text/html", kDates[0]), std::nullopt);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(open_recorded_page(plain_save.path(), url));
    StoreLockHold hold;
    EXPECT_EQ(kept_listing_counts().folders, 0u);
    EXPECT_EQ(kept_listing_counts().listings, 0u);
}

TEST_F(KeptListingTest, TheKeptFoldersStayWithinTheirBound) {
    StoreLockHold hold;
    for (std::size_t i = 0; i < kKeptFolders + 4; ++i) {
        const ParsedUrl url = parse_url("http://server/dir" + std::to_string(i) + "/page.html").value();
        record(kept_save.path(), url, 104, "body", answer("text/html", kDates[0]), std::nullopt);
        ASSERT_TRUE(open_recorded_page(kept_save.path(), url));
        EXPECT_LE(kept_listing_counts().folders, kKeptFolders);
    }
    EXPECT_EQ(kept_listing_counts().folders, kKeptFolders);
    // The first folder was dropped, and is listed again when it is needed.
    const ParsedUrl first = parse_url("http://server/dir0/page.html").value();
    const std::size_t before = kept_listing_counts().listings;
    ASSERT_TRUE(open_recorded_page(kept_save.path(), first));
    EXPECT_EQ(kept_listing_counts().listings, before + 1);
}

}  // namespace
}  // namespace vellum
