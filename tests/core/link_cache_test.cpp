#include "autoget/link_cache.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "http/url_text.h"

namespace vellum {
namespace {

ParsedUrl url_of(const std::string& text) { return parse_url(text).value(); }

LinkEntry entry(const ParsedUrl& url, int isLink) { return LinkEntry{url, isLink}; }

LinkList round_trip(const LinkList& links) {
    std::optional<PackedLinks> packed = PackedLinks::pack(links);
    EXPECT_TRUE(packed);
    LinkList back;
    if (packed) packed->unpack(back);
    return back;
}

void expect_same_entries(const LinkList& expected, const LinkList& actual) {
    ASSERT_EQ(expected.size(), actual.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(expected[i].url, actual[i].url) << "entry " << i;
        EXPECT_EQ(expected[i].isLink, actual[i].isLink) << "entry " << i;
    }
}

TEST(PackedLinksTest, GivesBackEveryFieldAsAbsentEmptyOrItsBytes) {
    ParsedUrl odd;
    odd.scheme = "http";
    odd.host = "";                 // present but empty is not absent
    odd.path = std::string("/a\0b\xff", 5);
    odd.query = std::string(300, 'q');    // a length of two bytes
    odd.fragment = std::string(20000, 'f');
    odd.opaque = "x";
    ParsedUrl bare;
    bare.path = "/";
    ParsedUrl exactly128;
    exactly128.host = std::string(127, 'h');
    exactly128.port = std::string(128, '8');
    const LinkList links = {entry(odd, 1), entry(bare, 0), entry(exactly128, 1), entry(ParsedUrl{}, 0)};
    expect_same_entries(links, round_trip(links));
}

TEST(PackedLinksTest, RepeatsOnlyWhatThePreviousEntryHadPresentAndEqual) {
    ParsedUrl a = url_of("http://h:8080/one.html?x");
    ParsedUrl b = url_of("http://h:8080/two.html");   // query gone after one
    ParsedUrl c = url_of("http://h/two.html?x");      // port gone, query back, path repeated
    ParsedUrl d = c;
    d.query = "";                                     // equal to nothing before it
    ParsedUrl e = url_of("http://other/two.html?");
    const LinkList links = {entry(a, 0), entry(b, 1), entry(c, 1), entry(d, 0), entry(e, 1), entry(e, 1)};
    expect_same_entries(links, round_trip(links));
}

TEST(PackedLinksTest, KeepsRunsOfOneSiteSmallerThanTheirText) {
    LinkList links;
    std::size_t text = 0;
    for (int i = 0; i < 200; ++i) {
        links.push_back(entry(url_of("http://docs.example:8000/3/library/module" + std::to_string(i) + ".html"), 1));
        text += url_text(links.back().url)->size();
    }
    const std::optional<PackedLinks> packed = PackedLinks::pack(links);
    ASSERT_TRUE(packed);
    EXPECT_EQ(200u, packed->count());
    EXPECT_LT(packed->bytes(), text * 2 / 3);
}

TEST(PackedLinksTest, AppendsAfterWhatTheListHolds) {
    const LinkList first = {entry(url_of("http://h/a"), 1)};
    const LinkList second = {entry(url_of("http://h/b"), 0), entry(url_of("http://h/c"), 1)};
    LinkList links = first;
    PackedLinks::pack(second)->unpack(links);
    expect_same_entries({first[0], second[0], second[1]}, links);
}

TEST(PackedLinksTest, RefusesAnIsLinkItCouldNotGiveBack) {
    EXPECT_FALSE(PackedLinks::pack(LinkList{entry(url_of("http://h/a"), 2)}));
    const std::optional<PackedLinks> empty = PackedLinks::pack(LinkList{});
    ASSERT_TRUE(empty);
    LinkList none;
    empty->unpack(none);
    EXPECT_TRUE(none.empty());
}

// Pages of a made-up store: their bytes and identity, as a test sets them.
class FakePages : public LinkCachePages {
public:
    struct Page {
        std::string bytes;
        PageIdentity identity;
        bool identified = true;
        std::size_t failAfter = std::string::npos;  // a read error once this many bytes are read
    };

    // Records a new copy: a new file written at another time, as a commit makes.
    void record(const std::string& folder, const std::string& url, std::string bytes) {
        Page& page = pages[folder + "|" + url];
        page.bytes = std::move(bytes);
        page.identity.size = page.bytes.size();
        page.identity.writeTime = ++nextFile;
        page.identity.companion = url + "(20260101000000 text%2Fhtml)";
    }

    std::optional<OpenedPage> open(const std::string& saveFolder, const ParsedUrl& url) override {
        ++opens;
        const auto found = pages.find(saveFolder + "|" + url_text(url).value());
        if (found == pages.end()) return std::nullopt;
        OpenedPage opened;
        opened.source = std::make_unique<Source>(found->second.bytes, found->second.failAfter);
        if (found->second.identified) opened.identity = found->second.identity;
        return opened;
    }
    bool unchanged(const std::string& saveFolder, const ParsedUrl& url, const PageIdentity& identity) override {
        ++queries;
        const auto found = pages.find(saveFolder + "|" + url_text(url).value());
        return found != pages.end() && found->second.identity == identity;
    }

    std::map<std::string, Page> pages;
    int opens = 0;
    int queries = 0;
    std::uint64_t nextFile = 0;

private:
    class Source : public PageSource {
    public:
        Source(std::string_view bytes, std::size_t failAfter) : bytes_(bytes), failAfter_(failAfter) {}
        int read(char* buffer, int size) override {
            if (at_ >= failAfter_) return -1;
            const std::size_t n = std::min({static_cast<std::size_t>(size), bytes_.size() - at_, failAfter_ - at_});
            bytes_.copy(buffer, n, at_);
            at_ += n;
            return static_cast<int>(n);
        }

    private:
        std::string_view bytes_;
        std::size_t failAfter_;
        std::size_t at_ = 0;
    };
};

const char kFolder[] = "C:\\save";
const char kPage[] = "http://h/dir/page.html";

std::vector<std::string> texts(const LinkList& links) {
    std::vector<std::string> out;
    for (const LinkEntry& link : links) out.push_back((link.isLink ? "L " : "R ") + url_text(link.url).value());
    return out;
}

std::vector<std::string> links_of(LinkCache& cache, const std::string& url, const std::string& folder = kFolder) {
    LinkList links;
    cache.links_of(folder, url_of(url), links);
    return texts(links);
}

using Texts = std::vector<std::string>;

class LinkCacheTest : public ::testing::Test {
protected:
    FakePages pages;
};

TEST_F(LinkCacheTest, AnUnchangedCopyIsNeitherOpenedNorScannedAgain) {
    pages.record(kFolder, kPage, "<a href=a.html><img src=/i.png>");
    LinkCache cache(pages);
    const Texts expected = {"L http://h/dir/a.html", "R http://h/i.png"};
    EXPECT_EQ(expected, links_of(cache, kPage));
    EXPECT_EQ(expected, links_of(cache, kPage));
    EXPECT_EQ(expected, links_of(cache, kPage));
    EXPECT_EQ(1, pages.opens);
    EXPECT_EQ(2, pages.queries);
    EXPECT_EQ(2u, cache.counts().hits);
    EXPECT_EQ(1u, cache.counts().extractions);
}

TEST_F(LinkCacheTest, ACopyRecordedAgainIsReadAgainEvenWithTheSameSize) {
    pages.record(kFolder, kPage, "<a href=a.html>");
    LinkCache cache(pages);
    EXPECT_EQ(Texts{"L http://h/dir/a.html"}, links_of(cache, kPage));
    pages.record(kFolder, kPage, "<a href=b.html>");
    EXPECT_EQ(Texts{"L http://h/dir/b.html"}, links_of(cache, kPage));
    EXPECT_EQ(Texts{"L http://h/dir/b.html"}, links_of(cache, kPage));
    EXPECT_EQ(2, pages.opens);
}

TEST_F(LinkCacheTest, ACopyGoneGivesNoLinksAndIsForgotten) {
    pages.record(kFolder, kPage, "<a href=a.html>");
    LinkCache cache(pages);
    links_of(cache, kPage);
    pages.pages.clear();
    EXPECT_TRUE(links_of(cache, kPage).empty());
    EXPECT_EQ(0u, cache.pages());
    EXPECT_EQ(0u, cache.bytes());
}

TEST_F(LinkCacheTest, ACopyCutByAReadErrorIsHandedOnButNeverKept) {
    const std::string page = "<a href=a.html>" + std::string(100000, ' ') + "<a href=b.html>";
    pages.record(kFolder, kPage, page);
    pages.pages.begin()->second.failAfter = 50000;
    LinkCache cache(pages);
    EXPECT_EQ(Texts{"L http://h/dir/a.html"}, links_of(cache, kPage));
    pages.pages.begin()->second.failAfter = std::string::npos;
    EXPECT_EQ((Texts{"L http://h/dir/a.html", "L http://h/dir/b.html"}), links_of(cache, kPage));
    EXPECT_EQ(2, pages.opens);
}

TEST_F(LinkCacheTest, ACopyWithoutIdentityIsReadEveryTime) {
    pages.record(kFolder, kPage, "<a href=a.html>");
    pages.pages.begin()->second.identified = false;
    LinkCache cache(pages);
    links_of(cache, kPage);
    EXPECT_EQ(Texts{"L http://h/dir/a.html"}, links_of(cache, kPage));
    EXPECT_EQ(2, pages.opens);
    EXPECT_EQ(0u, cache.pages());
}

TEST_F(LinkCacheTest, PagesAreKeptApartBySaveFolderAndUrlRecord) {
    pages.record(kFolder, kPage, "<a href=a.html>");
    pages.record("D:\\other", kPage, "<a href=b.html>");
    LinkCache cache(pages);
    EXPECT_EQ(Texts{"L http://h/dir/a.html"}, links_of(cache, kPage));
    EXPECT_EQ(Texts{"L http://h/dir/b.html"}, links_of(cache, kPage, "D:\\other"));

    // Two records of one store path resolve their links each against its own.
    pages.record(kFolder, "http://h:80/dir/page.html", "<a href=a.html>");
    ParsedUrl withPort = url_of(kPage);
    withPort.port = "80";
    LinkList links;
    cache.links_of(kFolder, withPort, links);
    EXPECT_EQ(3, pages.opens);
    ASSERT_EQ(1u, links.size());
    EXPECT_EQ(std::optional<std::string>("80"), links[0].url.port);
}

TEST_F(LinkCacheTest, EachWayOfReadingACopyKeepsItsOwnLinks) {
    pages.record(kFolder, kPage, "<link rel=stylesheet href=s.css><a href=a.html>");
    LinkCache cache(pages);
    auto scanned = [&](LinkScan scan) {
        LinkList links;
        cache.links_of(kFolder, url_of(kPage), links, scan);
        return texts(links);
    };
    const Texts plain = {"L http://h/dir/a.html"};
    const Texts requisites = {"R http://h/dir/s.css", "L http://h/dir/a.html"};
    EXPECT_EQ(plain, scanned(LinkScan::page));
    EXPECT_EQ(requisites, scanned(LinkScan::page_with_requisites));
    EXPECT_EQ(Texts{}, scanned(LinkScan::stylesheet));
    EXPECT_EQ(plain, scanned(LinkScan::page));
    EXPECT_EQ(requisites, scanned(LinkScan::page_with_requisites));
    EXPECT_EQ(3u, cache.counts().extractions);
    EXPECT_EQ(2u, cache.counts().hits);
}

TEST_F(LinkCacheTest, TheLeastRecentlyUsedPageGoesFirstWhenTheLimitIsReached) {
    const std::string body = "<a href=a.html><a href=b.html><a href=c.html>";
    for (const char* url : {"http://h/1.html", "http://h/2.html", "http://h/3.html"}) pages.record(kFolder, url, body);
    LinkCache probe(pages);
    links_of(probe, "http://h/1.html");
    const std::size_t onePage = probe.bytes();

    LinkCache cache(pages, onePage * 2 + onePage / 2);
    pages.opens = 0;
    links_of(cache, "http://h/1.html");
    links_of(cache, "http://h/2.html");
    links_of(cache, "http://h/1.html");
    links_of(cache, "http://h/3.html");  // 2 goes
    EXPECT_EQ(3, pages.opens);
    EXPECT_EQ(1u, cache.counts().evictions);
    EXPECT_LE(cache.bytes(), onePage * 2 + onePage / 2);
    links_of(cache, "http://h/1.html");
    links_of(cache, "http://h/3.html");
    EXPECT_EQ(3, pages.opens);
    EXPECT_EQ(Texts({"L http://h/a.html", "L http://h/b.html", "L http://h/c.html"}),
              links_of(cache, "http://h/2.html"));
    EXPECT_EQ(4, pages.opens);
}

TEST_F(LinkCacheTest, APageLargerThanTheLimitIsNeverKept) {
    pages.record(kFolder, kPage, "<a href=a.html><a href=b.html>");
    LinkCache cache(pages, 64);
    links_of(cache, kPage);
    EXPECT_EQ(Texts({"L http://h/dir/a.html", "L http://h/dir/b.html"}), links_of(cache, kPage));
    EXPECT_EQ(2, pages.opens);
    EXPECT_EQ(0u, cache.bytes());
}

}  // namespace
}  // namespace vellum
