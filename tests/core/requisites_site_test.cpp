// Debian's Python documentation crawled in memory (tests/support/docs_crawl.h)
// with and without the job's page requisites. Without them, the crawl that
// reads each node as the crawler now decides (through the link cache) is
// the crawl that reads the HTML pages alone with the extractor's own call,
// node for node. With them, the stylesheets, what they import and the
// pictures they name are fetched too, and nothing the crawl without them
// fetched is left out.
//
// By default the crawls stop at link depth 2 (without the option, 526 nodes)
// and 1 (with it), to stay quick under the sanitizers; VELLUM_LONG=1 crawls
// the whole site at unlimited depth.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "autoget/link_cache.h"
#include "tests/support/docs_crawl.h"

namespace vellum {
namespace {

using namespace testing::docs;

int crawl_depth(int quick) {
    const char* value = std::getenv("VELLUM_LONG");
    return value && std::string(value) == "1" ? kUnlimited : quick;
}

// The documentation as the store the cache reads.
class DocsPages : public LinkCachePages {
public:
    std::optional<OpenedPage> open(const std::string&, const ParsedUrl& url) override {
        const Served served = serve(kDocs, url);
        if (served.status != 200) return std::nullopt;
        OpenedPage page;
        page.identity = identity_of(served.file);
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

Crawl crawl_through_cache(int maxDepth, int pageRequisites, std::vector<LinkScan>* scans = nullptr) {
    DocsPages pages;
    LinkCache cache(pages);
    return crawl_docs(kDocs, maxDepth, pageRequisites, [&](const CrawlerOrder& order, LinkScan scan, LinkList& links) {
        if (scans) scans->push_back(scan);
        cache.links_of(order.job.saveFolder, order.url, links, scan);
    });
}

// The URL of each node handed out that was fetched (not taken over from
// an earlier copy's result).
std::vector<std::string> fetched(const Crawl& crawl) {
    std::vector<std::string> urls;
    for (const std::string& line : crawl.handedOut) {
        if (line.find(" result 0 ") == std::string::npos) continue;
        urls.push_back(line.substr(0, line.find(" depth ")));
    }
    return urls;
}

TEST(RequisitesSiteTest, WithoutTheOptionEveryNodeIsAsWhenOnlyHtmlPagesWereRead) {
    if (!fs::is_directory(kDocs)) GTEST_SKIP() << "python3-doc is not installed (no " << kDocs << ")";
    const int depth = crawl_depth(2);
    const Crawl before = crawl_docs(kDocs, depth, [](const CrawlerOrder& order, LinkList& links) {
        const Served served = serve(kDocs, order.url);
        if (served.status != 200) return;
        const std::string bytes = file_bytes(served.file);
        MemoryPageSource source(bytes);
        extract_links(source, order.url, links);
    });
    std::vector<LinkScan> scans;
    const Crawl now = crawl_through_cache(depth, 0, &scans);
    EXPECT_EQ(before.handedOut, now.handedOut);
    EXPECT_EQ(before.tree, now.tree);
    EXPECT_EQ(before.expansions, now.expansions);
    EXPECT_TRUE(std::all_of(scans.begin(), scans.end(), [](LinkScan s) { return s == LinkScan::page; }));
    EXPECT_GT(now.handedOut.size(), 100u);
}

TEST(RequisitesSiteTest, WithTheOptionTheStylesheetsAndTheirPicturesAreFetchedToo) {
    if (!fs::is_directory(kDocs)) GTEST_SKIP() << "python3-doc is not installed (no " << kDocs << ")";
    const int depth = crawl_depth(1);
    const Crawl without = crawl_through_cache(depth, 0);
    std::vector<LinkScan> scans;
    const Crawl with = crawl_through_cache(depth, 1, &scans);

    const std::vector<std::string> fetched_with = fetched(with);
    const std::set<std::string> set_with(fetched_with.begin(), fetched_with.end());
    EXPECT_EQ(set_with.size(), fetched_with.size()) << "a URL fetched twice";
    for (const std::string& url : fetched(without)) EXPECT_TRUE(set_with.count(url)) << url << " is left out";

    const std::string site = kSite;
    for (const char* path : {"_static/pydoctheme.css?2022.1", "_static/default.css", "_static/classic.css",
                             "_static/basic.css", "_static/pygments.css", "_static/file.png", "_static/caret-down.svg",
                             "_static/py.svg", "_static/jquery.js", "_static/doctools.js", "_static/sidebar.js"}) {
        EXPECT_TRUE(set_with.count(site + path)) << path << " not fetched";
    }
    // The five stylesheets the pages name or import are each read once; the
    // pages are read with their requisites.
    EXPECT_EQ(std::count(scans.begin(), scans.end(), LinkScan::stylesheet), 5);
    EXPECT_EQ(std::count(scans.begin(), scans.end(), LinkScan::page), 0);
    std::printf("depth %d: %zu nodes fetched without the requisites, %zu with them\n", depth,
                fetched(without).size(), fetched_with.size());
}

}  // namespace
}  // namespace vellum
