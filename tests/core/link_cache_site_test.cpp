// Debian's Python documentation crawled in memory twice, as bench/crawl.py
// crawls it through the real program (unlimited depth inside the start
// directory, update check "always", no retries): once reading every page's
// links afresh at each expansion, once through the link cache. The real page
// tree and its walk decide everything; a stand-in for the server answers each
// node from the files on disk. Both crawls must hand out the same nodes in the
// same order and end with the same tree.
//
// By default the crawl stops at link depth 3, to stay quick under the
// sanitizers; VELLUM_LONG=1 crawls the whole site at unlimited depth.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "autoget/link_cache.h"
#include "tests/support/docs_crawl.h"

namespace vellum {
namespace {

using namespace testing::docs;

bool long_run() {
    const char* value = std::getenv("VELLUM_LONG");
    return value && std::string(value) == "1";
}

// The documentation as the store the cache reads: the served file is the
// stored copy, identified by its size and write time.
class DocsPages : public LinkCachePages {
public:
    std::optional<OpenedPage> open(const std::string&, const ParsedUrl& url) override {
        const Served served = serve(kDocs, url);
        if (served.status != 200) return std::nullopt;
        OpenedPage page;
        page.identity = identity_of(served.file);
        // Read before the next page is opened.
        held_ = file_bytes(served.file);
        page.source = std::make_unique<MemoryPageSource>(held_);
        return page;
    }
    bool unchanged(const std::string&, const ParsedUrl& url, const PageIdentity& identity) override {
        const Served served = serve(kDocs, url);
        return served.status == 200 && identity_of(served.file) == identity;
    }

private:
    static PageIdentity identity_of(const fs::path& file) {
        PageIdentity identity;
        identity.size = fs::file_size(file);
        identity.writeTime = static_cast<std::uint64_t>(fs::last_write_time(file).time_since_epoch().count());
        return identity;
    }
    std::string held_;
};

// The first line where two long sequences part, rather than both in full.
void expect_same_lines(const std::vector<std::string>& expected, const std::vector<std::string>& actual,
                       const char* what) {
    const std::size_t common = std::min(expected.size(), actual.size());
    for (std::size_t i = 0; i < common; ++i) {
        if (expected[i] != actual[i]) {
            ADD_FAILURE() << what << " part at " << i << ":\n  fresh:  " << expected[i] << "\n  cached: " << actual[i];
            return;
        }
    }
    EXPECT_EQ(expected.size(), actual.size()) << what;
}

TEST(LinkCacheSiteTest, TheCrawlThroughTheCacheIsTheCrawlReadingEveryPageAfresh) {
    if (!fs::is_directory(kDocs)) GTEST_SKIP() << "python3-doc is not installed (no " << kDocs << ")";
    const int maxDepth = long_run() ? kUnlimited : 3;

    const Crawl fresh = crawl_docs(kDocs, maxDepth, [](const CrawlerOrder& order, LinkList& links) {
        const Served served = serve(kDocs, order.url);
        if (served.status != 200) return;
        const std::string bytes = file_bytes(served.file);
        MemoryPageSource source(bytes);
        extract_links(source, order.url, links);
    });

    DocsPages pages;
    LinkCache cache(pages);
    std::size_t entries = 0;
    const Crawl cached = crawl_docs(kDocs, maxDepth, [&](const CrawlerOrder& order, LinkList& links) {
        cache.links_of(order.job.saveFolder, order.url, links);
        entries += links.size();
    });

    expect_same_lines(fresh.handedOut, cached.handedOut, "the nodes handed out");
    expect_same_lines(fresh.tree, cached.tree, "the trees");
    EXPECT_EQ(fresh.expansions, cached.expansions);
    // Each page read once, every later expansion from the cache; without
    // re-expansions the crawl would prove nothing about it.
    EXPECT_EQ(cached.expansions, cache.counts().hits + cache.counts().extractions);
    EXPECT_EQ(cache.pages(), cache.counts().extractions);
    EXPECT_GT(cache.counts().hits, 0u);
    EXPECT_EQ(0u, cache.counts().evictions);
    std::printf("depth %d: %zu nodes handed out, %zu tree nodes, %zu expansions (%zu from the cache, %zu read); "
                "%zu pages kept in %zu bytes, %zu entries handed out\n",
                maxDepth, cached.handedOut.size(), cached.tree.size(), cached.expansions, cache.counts().hits,
                cache.counts().extractions, cache.pages(), cache.bytes(), entries);
}

TEST(LinkCacheSiteTest, EveryPageOfTheDocumentationPacksBackToTheExtractorsEntries) {
    if (!fs::is_directory(kDocs)) GTEST_SKIP() << "python3-doc is not installed (no " << kDocs << ")";
    std::size_t pages = 0, entries = 0, text = 0, packedBytes = 0;
    for (const auto& file : fs::recursive_directory_iterator(kDocs, fs::directory_options::follow_directory_symlink)) {
        if (!file.is_regular_file() || file.path().extension() != ".html") continue;
        const std::string bytes = file_bytes(file.path());
        MemoryPageSource source(bytes);
        LinkList links;
        const std::string relative = fs::relative(file.path(), kDocs).generic_string();
        extract_links(source, *parse_url(std::string(kSite) + relative), links);

        const std::optional<PackedLinks> packed = PackedLinks::pack(links);
        ASSERT_TRUE(packed) << relative;
        LinkList back;
        packed->unpack(back);
        ASSERT_EQ(links.size(), back.size()) << relative;
        for (std::size_t i = 0; i < links.size(); ++i) {
            ASSERT_EQ(links[i].url, back[i].url) << relative << " entry " << i;
            ASSERT_EQ(links[i].isLink, back[i].isLink) << relative << " entry " << i;
            text += url_text(links[i].url).value_or("").size();
        }
        ++pages;
        entries += links.size();
        packedBytes += packed->bytes();
    }
    EXPECT_GT(pages, 0u);
    std::printf("%zu pages, %zu entries: %zu bytes of URL text packed into %zu\n", pages, entries, text, packedBytes);
}

}  // namespace
}  // namespace vellum
