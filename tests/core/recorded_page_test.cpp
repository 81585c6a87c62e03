#include "store/recorded_page.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "base/lead_byte.h"
#include "http/http_date.h"

namespace vellum {
namespace {

ParsedUrl url_of(const std::string& text) {
    return parse_url(text).value_or(ParsedUrl{});
}

ServerResponse answer(std::optional<std::string> type, std::optional<std::string> last_modified) {
    ServerResponse response;
    response.status = 200;
    response.content_type = std::move(type);
    if (last_modified) {
        FileTime time = 0;
        response.last_modified_valid = parse_http_date(*last_modified, time);
        response.last_modified_time = time;
        response.last_modified = last_modified;
    }
    return response;
}

TEST(CompanionName, CarriesStampAndEscapedType) {
    auto name = companion_file_name("C:\\save", url_of("http://server/index.html"),
                                    answer("text/html", "Sun, 06 Nov 1994 08:49:37 GMT"));
    EXPECT_EQ(name, "C:\\save\\server\\index.html(19941106084937 text%2Fhtml)");
    auto untyped = companion_file_name("C:\\save", url_of("http://server/a"), answer(std::nullopt, std::nullopt));
    EXPECT_EQ(untyped, "C:\\save\\server\\a(00000000000000 none)");
    auto parameters = companion_file_name("C:\\save", url_of("http://server/a"),
                                          answer("text/html; charset=Shift_JIS", std::nullopt));
    EXPECT_EQ(parameters, "C:\\save\\server\\a(00000000000000 text%2Fhtml; charset=Shift_JIS)");
    auto parens = companion_file_name("C:\\s", url_of("http://h/a"), answer("text/plain (x)", std::nullopt));
    EXPECT_EQ(parens, "C:\\s\\h\\a(00000000000000 text%2Fplain %28x%29)");
}

TEST(CompanionName, LongTypesAreShortenedNotDropped) {
    const std::string folder = "C:\\" + std::string(200, 'f');
    const ParsedUrl url = url_of("http://h/p");  // store path of 207 bytes
    auto cut = companion_file_name(folder, url, answer("text/html; charset=" + std::string(60, 'x'), std::nullopt));
    ASSERT_TRUE(cut);
    EXPECT_EQ(*cut, folder + "\\h\\p(00000000000000 text%2Fhtml)");
    auto untyped = companion_file_name(folder, url, answer(std::string(60, 'y') + "/z", std::nullopt));
    ASSERT_TRUE(untyped);
    EXPECT_EQ(*untyped, folder + "\\h\\p(00000000000000 none)");
    const std::string full_folder = "C:\\" + std::string(236, 'f');
    EXPECT_FALSE(companion_file_name(full_folder, url, answer("text/html", std::nullopt)));
}

TEST(CompanionName, RoundTripsThroughTheReader) {
    for (std::string type : {"text/html; charset=Shift_JIS", "image/gif", "text/plain (x)", "a%b", "x y  z"}) {
        auto name = companion_file_name("C:\\s", url_of("http://h/page"), answer(type, std::nullopt));
        ASSERT_TRUE(name);
        auto info = parse_companion_name("page", name->substr(std::string("C:\\s\\h\\").size()));
        ASSERT_TRUE(info) << type;
        EXPECT_EQ(info->content_type, type);
        EXPECT_EQ(info->timestamp, "00000000000000");
    }
}

TEST(CompanionName, EveryTypeIsFoundAgain) {
    // An empty type would leave no type for the reader; a lead byte at the end
    // would pair with ")" in the file system. Neither may hide the page.
    const auto read_back = [](std::optional<std::string> type) {
        auto name = companion_file_name("C:\\s", url_of("http://h/page"), answer(type, std::nullopt));
        EXPECT_TRUE(name);
        return parse_companion_name("page", name.value_or("").substr(std::string("C:\\s\\h\\").size()));
    };
    auto empty = read_back("");
    ASSERT_TRUE(empty);
    EXPECT_FALSE(empty->content_type);
    for (std::string type : {"text\x81", "a\x81(b)", "\x81%41", "\xE0/x"}) {
        auto name = companion_file_name("C:\\s", url_of("http://h/page"), answer(type, std::nullopt));
        ASSERT_TRUE(name);
        for (std::size_t i = 0; i < name->size(); ++i) {
            if (is_lead_byte(static_cast<unsigned char>((*name)[i]))) {
                ASSERT_LT(i + 1, name->size());
                EXPECT_GE(static_cast<unsigned char>((*name)[++i]), 0x40) << *name;
            }
        }
        auto info = read_back(type);
        ASSERT_TRUE(info) << type;
        EXPECT_EQ(info->content_type, type);
    }
}

TEST(CompanionName, LookAlikePagesAreNoCompanions) {
    EXPECT_TRUE(parse_companion_name("a", "a(19941106084937 text%2Fhtml)"));
    EXPECT_FALSE(parse_companion_name("a", "a(1).html"));
    EXPECT_FALSE(parse_companion_name("a", "a(19941106084937text%2Fhtml)"));
    EXPECT_FALSE(parse_companion_name("a", "a(1994110608493 text%2Fhtml)"));
    EXPECT_FALSE(parse_companion_name("a", "a(19941106084937 )"));
    EXPECT_FALSE(parse_companion_name("a", "a(19941106084937 text%2Fhtml"));
    EXPECT_FALSE(parse_companion_name("a", "ab(19941106084937 text%2Fhtml)"));
    // The companion of a page named like a companion is not this page's.
    EXPECT_FALSE(parse_companion_name("a", "a(19941106084937 x)(19941106084937 text%2Fhtml)"));
    auto none = parse_companion_name("a", "a(00000000000000 none)");
    ASSERT_TRUE(none);
    EXPECT_FALSE(none->content_type);
}

TEST(StoredResponse, RebuildsTheHeaderInItsOrder) {
    CompanionInfo info{"19941106084937", "text/html; charset=Shift_JIS"};
    auto header = stored_response(info, 1234);
    EXPECT_EQ(header->lines, (LineList{"HTTP/1.0 200 OK\r\n", "Last-modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n",
                                       "Content-length: 1234\r\n", "Content-type: text/html; charset=Shift_JIS\r\n",
                                       "\r\n"}));
    EXPECT_EQ(header->status, 200);
    EXPECT_DOUBLE_EQ(header->version_number, 1.0);
    EXPECT_EQ(header->content_length, 1234);
    EXPECT_TRUE(header->last_modified_valid);
    EXPECT_EQ(header->content_type, "text/html; charset=Shift_JIS");
}

TEST(StoredResponse, UndatedUntypedAndHuge) {
    auto bare = stored_response(CompanionInfo{"00000000000000", std::nullopt}, 5);
    EXPECT_EQ(bare->lines, (LineList{"HTTP/1.0 200 OK\r\n", "Content-length: 5\r\n", "\r\n"}));
    EXPECT_FALSE(bare->last_modified);
    auto huge = stored_response(CompanionInfo{"20240101000000", "video/mp4"}, 0x1'0000'0000ull);
    EXPECT_EQ(huge->content_length, -1);
    EXPECT_EQ(huge->lines.size(), 4u);  // no Content-length line
    auto largest = stored_response(CompanionInfo{"00000000000000", std::nullopt}, 0xFFFF'FFFFull);
    EXPECT_EQ(largest->lines[1], "Content-length: 4294967295\r\n");
}

TEST(StoredResponse, WeekdayIsComputedAndImpossibleDatesAreInvalid) {
    auto header = stored_response(CompanionInfo{"20061201120000", std::nullopt}, 1);
    EXPECT_EQ(header->lines[1], "Last-modified: Fri, 01 Dec 2006 12:00:00 GMT\r\n");
    auto impossible = stored_response(CompanionInfo{"20030231000000", std::nullopt}, 1);
    EXPECT_EQ(impossible->lines[1], "Last-modified: Mon, 01 Jan 1601 00:00:00 GMT\r\n");
    EXPECT_FALSE(impossible->last_modified_valid);
}

TEST(Freshness, OnlyA200WithEqualValidDates) {
    auto stored = stored_response(CompanionInfo{"19941106084937", "text/html"}, 10);
    ServerResponse same = answer("text/html", "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_TRUE(recorded_copy_is_current(same, *stored));
    ServerResponse other = same;
    other.status = 203;
    EXPECT_FALSE(recorded_copy_is_current(other, *stored));
    ServerResponse newer = answer("text/html", "Sun, 06 Nov 1994 08:49:38 GMT");
    EXPECT_FALSE(recorded_copy_is_current(newer, *stored));
    ServerResponse older = answer("text/html", "Sun, 06 Nov 1994 08:49:36 GMT");
    EXPECT_FALSE(recorded_copy_is_current(older, *stored));
    ServerResponse undated = answer("text/html", std::nullopt);
    EXPECT_FALSE(recorded_copy_is_current(undated, *stored));
    auto stored_undated = stored_response(CompanionInfo{"00000000000000", "text/html"}, 10);
    EXPECT_FALSE(recorded_copy_is_current(same, *stored_undated));
}

TEST(RecordedPageNames, RedirectAndReceivingFiles) {
    EXPECT_EQ(redirect_file_name("C:\\s\\", url_of("http://h/a")), "C:\\s\\h\\a.response");
    EXPECT_FALSE(redirect_file_name("C:\\s", url_of("ftp://h/a")));
    const std::string folder = "C:\\" + std::string(240, 'f');
    EXPECT_TRUE(redirect_file_name(folder, url_of("http://h/abcd")));    // 259 bytes
    EXPECT_FALSE(redirect_file_name(folder, url_of("http://h/abcde")));  // 260 bytes
    EXPECT_EQ(receiving_file_name("C:\\s\\h\\a", 104), "C:\\s\\h\\a.#00104#");
    EXPECT_EQ(receiving_file_name("C:\\s\\h\\a", 1300), "C:\\s\\h\\a.#01300#");
    EXPECT_EQ(receiving_file_name("C:\\s\\h\\a", 123456), "C:\\s\\h\\a.#123456#");
}

// --- the names beside a page, through a commit and after a crash ---------------

// A folder beside the page "p" as a listing, with which body the page file
// holds: the old one (3 bytes) or the new one (5 bytes).
class Folder {
public:
    void add(const std::string& name, std::uint64_t size = 0) { entries_.push_back(PageEntry{name, size, false}); }
    void remove(const std::string& name) {
        std::erase_if(entries_, [&name](const PageEntry& e) { return e.name == name; });
    }
    bool has(const std::string& name) const {
        return std::any_of(entries_.begin(), entries_.end(), [&name](const PageEntry& e) { return e.name == name; });
    }
    PageFiles files() const { return classify_page_files("p", entries_); }
    // What a reader gets: "old"/"new" and the companion taken, or "none".
    std::string read() const {
        const PageFiles f = files();
        const int current = current_companion(f);
        if (!f.page || f.page->size == 0 || current < 0) return "none";
        return std::string(f.page->size == 3 ? "old " : "new ") + f.companions[current].first;
    }
    // Deletes the leftovers one by one, checking each state reads the same.
    void tidy() {
        const std::string before = read();
        for (const std::string& name : leftover_names(files())) {
            remove(name);
            EXPECT_EQ(read(), before) << "after deleting " << name;
        }
    }
    std::vector<std::string> names() const {
        std::vector<std::string> n;
        for (const PageEntry& e : entries_) n.push_back(e.name);
        std::sort(n.begin(), n.end());
        return n;
    }

private:
    std::vector<PageEntry> entries_;
};

// The steps of a commit as the Win32 side takes them, on the model.
std::vector<std::function<void(Folder&)>> commit_steps(const std::string& old_companion, const std::string& fresh) {
    const std::string marker = "p.#%commit#" + fresh.substr(1);
    return {
        [](Folder& f) { f.remove("p.#00104#"); f.add("p.#%new#", 5); },
        [marker](Folder& f) { f.add(marker); },
        [fresh](Folder& f) { f.add(fresh); },
        [](Folder& f) { f.remove("p.#%new#"); f.remove("p"); f.add("p", 5); },
        [old_companion](Folder& f) { f.remove(old_companion); },
        [marker](Folder& f) { f.remove(marker); },
    };
}

TEST(CommitStates, EveryStepReadsAsTheOldOrTheNewVersionAndLeftoversTidyToOne) {
    const std::string older = "p(19941106084937 text%2Fhtml)";
    const std::string newer = "p(20240101000000 text%2Fplain)";
    // A newer date sorts after the old companion, an older one before it:
    // the greatest-name rule alone would mix them either way.
    for (const auto& [old_companion, fresh] : {std::pair(older, newer), std::pair(newer, older)}) {
        const auto steps = commit_steps(old_companion, fresh);
        for (std::size_t stop = 0; stop <= steps.size(); ++stop) {
            Folder folder;
            folder.add("p", 3);
            folder.add(old_companion);
            folder.add("p.#00104#", 5);
            for (std::size_t i = 0; i < stop; ++i) steps[i](folder);
            const bool replaced = stop >= 4;
            EXPECT_EQ(folder.read(), replaced ? "new " + fresh : "old " + old_companion) << "stopped after " << stop;
            folder.tidy();
            EXPECT_EQ(folder.names(), (std::vector<std::string>{"p", replaced ? fresh : old_companion}))
                << "stopped after " << stop;
        }
    }
}

TEST(CommitStates, AFirstRecordingIsNothingOrTheWholeNewPage) {
    const std::string fresh = "p(20240101000000 text%2Fplain)";
    auto steps = commit_steps("", fresh);
    for (std::size_t stop = 0; stop <= steps.size(); ++stop) {
        Folder folder;
        folder.add("p.#00104#", 5);
        for (std::size_t i = 0; i < stop; ++i) steps[i](folder);
        EXPECT_EQ(folder.read(), stop >= 4 ? "new " + fresh : "none") << "stopped after " << stop;
        folder.tidy();
    }
    // A page file that had no companion was no recording either.
    for (std::size_t stop = 0; stop <= steps.size(); ++stop) {
        Folder folder;
        folder.add("p", 3);
        for (std::size_t i = 0; i < stop; ++i) steps[i](folder);
        EXPECT_EQ(folder.read(), stop >= 4 ? "new " + fresh : "none") << "stopped after " << stop;
    }
}

TEST(CommitStates, WithoutAMarkerTheGreatestNameWinsAsEver) {
    Folder folder;
    folder.add("p", 3);
    folder.add("p(19941106084937 text%2Fplain)");
    folder.add("p(20011106084937 text%2Fhtml)");
    folder.add("p.#%new#", 5);  // a commit that stopped before its marker
    EXPECT_EQ(folder.read(), "old p(20011106084937 text%2Fhtml)");
    EXPECT_EQ(leftover_names(folder.files()), std::vector<std::string>{"p.#%new#"});
    // Two markers can't come from one commit: they are left alone and the
    // rule is the greatest name.
    folder.add("p.#%commit#(19941106084937 text%2Fplain)");
    folder.add("p.#%commit#(20011106084937 text%2Fhtml)");
    EXPECT_EQ(folder.read(), "old p(20011106084937 text%2Fhtml)");
    EXPECT_EQ(leftover_names(folder.files()), std::vector<std::string>{});
}

TEST(CommitStates, OnlyTheNamesOfThisPageCount) {
    Folder folder;
    folder.add("p", 3);
    folder.add("p(19941106084937 text%2Fhtml)");
    folder.add("p.#01234#", 7);               // a receiving file
    folder.add("p.#123#", 7);                 // too few digits: another URL's page
    folder.add("p.#00200#x", 7);              // another URL's page
    folder.add("p.#00300#", 9);               // another URL's page, recorded:
    folder.add("p.#00300#(00000000000000 none)");
    folder.add("p.#%commit#(1994 bad)");      // no companion named: not a marker
    folder.add("p(1).html", 20);
    const PageFiles files = folder.files();
    EXPECT_EQ(files.receiving, std::vector<std::string>{"p.#01234#"});
    EXPECT_TRUE(files.markers.empty());
    EXPECT_FALSE(files.staged);
    EXPECT_EQ(leftover_names(files), std::vector<std::string>{"p.#01234#"});
}

TEST(CommitStates, TemporaryNamesLeadBackToTheirPage) {
    EXPECT_EQ(page_of_temporary_name("index.html.#00104#"), "index.html");
    EXPECT_EQ(page_of_temporary_name("a.#b.#123456#"), "a.#b");
    EXPECT_EQ(page_of_temporary_name("index.html.#%new#"), "index.html");
    EXPECT_EQ(page_of_temporary_name("a(1).html.#%commit#(19941106084937 text%2Fhtml)"), "a(1).html");
    EXPECT_FALSE(page_of_temporary_name("index.html"));
    EXPECT_FALSE(page_of_temporary_name("a.#123#"));
    EXPECT_FALSE(page_of_temporary_name(".#00104#"));
    EXPECT_FALSE(page_of_temporary_name("a.#%commit#(oops)"));
    EXPECT_FALSE(page_of_temporary_name("index.html(19941106084937 text%2Fhtml)"));
    EXPECT_EQ(staged_body_name("C:\\s\\h\\p"), "C:\\s\\h\\p.#%new#");
    EXPECT_EQ(commit_marker_name("C:\\s\\h\\p", "(00000000000000 none)"), "C:\\s\\h\\p.#%commit#(00000000000000 none)");
}

}  // namespace
}  // namespace vellum
