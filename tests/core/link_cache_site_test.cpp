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

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "autoget/crawler_order.h"
#include "autoget/crawler_rules.h"
#include "autoget/link_cache.h"
#include "autoget/link_extractor.h"
#include "autoget/page_tree.h"
#include "http/url_text.h"
#include "tests/support/fake_page_tree_view.h"

namespace vellum {
namespace {

namespace fs = std::filesystem;

const char kDocs[] = "/usr/share/doc/python3-doc/html";
const char kSite[] = "http://127.0.0.1:28410/";
const char kSaveFolder[] = "C:\\vellum-docs";

bool long_run() {
    const char* value = std::getenv("VELLUM_LONG");
    return value && std::string(value) == "1";
}

std::string hex_decoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out.push_back(static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16)));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

// What nginx serves for the URL from the documentation folder: the file, or
// none with the status it answers instead.
struct Served {
    int status = 404;
    fs::path file;
};

Served serve(const ParsedUrl& url) {
    const std::string site = kSite;
    const std::optional<std::string> text = url_text(url);
    if (!text || text->compare(0, site.size(), site) != 0 || !url.path) return {};
    fs::path target = kDocs;
    const std::string path = hex_decoded(*url.path);
    std::size_t at = 1;
    while (at <= path.size()) {
        const std::size_t slash = std::min(path.find('/', at), path.size());
        const std::string piece = path.substr(at, slash - at);
        if (piece == "..") return {400, {}};
        if (!piece.empty() && piece != ".") target /= piece;
        at = slash + 1;
    }
    std::error_code error;
    if (fs::is_directory(target, error)) {
        if (path.back() != '/') return {301, {}};
        target /= "index.html";
    }
    if (!fs::is_regular_file(target, error)) return {404, {}};
    return {200, target};
}

std::optional<std::string> nginx_type(const fs::path& file) {
    const std::string extension = file.extension().string();
    if (extension == ".html" || extension == ".htm") return "text/html";
    if (extension == ".css") return "text/css";
    if (extension == ".txt" || extension == ".py") return "text/plain";
    if (extension == ".js") return "application/javascript";
    if (extension == ".png") return "image/png";
    if (extension == ".gif") return "image/gif";
    if (extension == ".jpg" || extension == ".jpeg") return "image/jpeg";
    if (extension == ".svg") return "image/svg+xml";
    return "application/octet-stream";
}

std::string file_bytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// The documentation as the store the cache reads: the served file is the
// stored copy, identified by its size and write time.
class DocsPages : public LinkCachePages {
public:
    std::optional<OpenedPage> open(const std::string&, const ParsedUrl& url) override {
        const Served served = serve(url);
        if (served.status != 200) return std::nullopt;
        OpenedPage page;
        page.identity = identity_of(served.file);
        held_.push_back(file_bytes(served.file));
        page.source = std::make_unique<MemoryPageSource>(held_.back());
        return page;
    }
    bool unchanged(const std::string&, const ParsedUrl& url, const PageIdentity& identity) override {
        const Served served = serve(url);
        return served.status == 200 && identity_of(served.file) == identity;
    }

private:
    static PageIdentity identity_of(const fs::path& file) {
        PageIdentity identity;
        identity.size = fs::file_size(file);
        identity.writeTime = static_cast<std::uint64_t>(fs::last_write_time(file).time_since_epoch().count());
        return identity;
    }
    std::vector<std::string> held_;
};

std::string describe(const PageNode& node) {
    return url_text(node.urlRecord()).value_or("?") + " depth " + std::to_string(node.depth()) + " link " +
           std::to_string(node.isLink()) + " skip " + std::to_string(node.skipReason()) + " result " +
           std::to_string(node.result()) + " error " + std::to_string(node.error());
}

struct Crawl {
    std::vector<std::string> handedOut;  // each node as the walk handed it out
    std::vector<std::string> tree;       // every node in pre-order, with its level
    std::size_t expansions = 0;          // HTML nodes whose links were added
};

using LinksOf = std::function<void(const CrawlerOrder&, LinkList&)>;

// The auto-get window and the crawler thread of one run, without their
// threads: next_node, the fetch, the links of an HTML page without children,
// the result and the page's resources then its hyperlinks.
Crawl crawl_docs(int maxDepth, const LinksOf& links_of) {
    testing::FakePageTreeView view;
    view.keep_log = false;
    PageTree tree(view);
    AutoGetSettings defaults;
    defaults.recStatusLink = static_cast<std::uint32_t>(maxDepth);
    defaults.recStatusModify = 2;
    defaults.recStatusLimit = 0;
    defaults.recStatusRetry = 0;
    const std::string start = std::string(kSite) + "index.html";
    EXPECT_EQ(ReserveOutcome::added, reserve_base_url(tree, defaults, kSaveFolder, "GET", start, *parse_url(start),
                                                      std::nullopt, "Mozilla/5.0 (crawl bench)", [] { return true; }));

    Crawl crawl;
    CrawlerTally tally;
    const AutoGetStart options;
    PageNode* current = nullptr;
    for (;;) {
        current = tree.next_node(current, options.linkOnly != 0, options.linkExtensions);
        if (!current) break;
        const CrawlerOrder order = crawler_order_for(*current);
        tree.set_activity(*current, 1);
        crawl.handedOut.push_back(describe(*current) + (order.hasChildren ? " children" : ""));

        int result = order.result;
        if (result == 0) {
            const Served served = serve(order.url);
            result = served.status == 200 ? classify_fetch(200, true, nginx_type(served.file))
                                          : classify_fetch(served.status, false, std::nullopt);
        }
        LinkList links;
        if (result == 2 && !order.hasChildren) {
            links_of(order, links);
            ++crawl.expansions;
        }
        result = tally.settle(result, order.job.retryCount);
        tree.record_fetch_result(*current, result);
        for (int wanted : {0, 1}) {
            for (const LinkEntry& entry : links) {
                if (entry.isLink == wanted) tree.add_child(wanted == 1, current, &entry.url, nullptr);
            }
        }
        if (ends_run(result) || tally.redirect_limit_reached()) break;
    }

    std::vector<std::pair<const PageNode*, int>> pending{{&tree.root(), -1}};
    while (!pending.empty()) {
        const auto [node, level] = pending.back();
        pending.pop_back();
        if (level >= 0) crawl.tree.push_back(std::to_string(level) + " " + describe(*node));
        std::vector<const PageNode*> children;
        for (const PageNode* child = node->firstChild(); child; child = child->nextSibling()) children.push_back(child);
        for (auto it = children.rbegin(); it != children.rend(); ++it) pending.emplace_back(*it, level + 1);
    }
    return crawl;
}

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
    const int maxDepth = long_run() ? 100 : 3;

    const Crawl fresh = crawl_docs(maxDepth, [](const CrawlerOrder& order, LinkList& links) {
        const Served served = serve(order.url);
        if (served.status != 200) return;
        const std::string bytes = file_bytes(served.file);
        MemoryPageSource source(bytes);
        extract_links(source, order.url, links);
    });

    DocsPages pages;
    LinkCache cache(pages);
    std::size_t entries = 0;
    const Crawl cached = crawl_docs(maxDepth, [&](const CrawlerOrder& order, LinkList& links) {
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
