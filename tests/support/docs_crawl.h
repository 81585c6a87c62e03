// Debian's Python documentation as bench/crawl.py's nginx serves it, and one
// auto-get run over it without threads or windows: the real page tree and its
// walk, the crawler's reading of each answer, the window's order of adding a
// page's links. The links of each expanded page come from the caller, so
// that ways of getting them can be set side by side. For tests and
// benchmarks; single-threaded.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "autoget/crawler_order.h"
#include "autoget/crawler_rules.h"
#include "autoget/link_extractor.h"
#include "autoget/page_tree.h"
#include "http/url_text.h"
#include "tests/support/fake_page_tree_view.h"

namespace vellum::testing::docs {

namespace fs = std::filesystem;

inline constexpr char kDocs[] = "/usr/share/doc/python3-doc/html";
inline constexpr char kSite[] = "http://127.0.0.1:28410/";  // bench/crawl.py's
inline constexpr char kSaveFolder[] = "C:\\vellum-docs";
inline constexpr int kUnlimited = 100;

inline std::string hex_decoded(std::string_view text) {
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

// What nginx answers for the URL from the folder `docs`: the file for 200.
struct Served {
    int status = 404;
    fs::path file;
};

inline Served serve(const fs::path& docs, const ParsedUrl& url) {
    const std::string site = kSite;
    const std::optional<std::string> text = url_text(url);
    if (!text || text->compare(0, site.size(), site) != 0 || !url.path) return {};
    fs::path target = docs;
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

// nginx's type for the extensions the documentation has.
inline std::optional<std::string> nginx_type(const fs::path& file) {
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

inline std::string file_bytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

inline std::string describe(const PageNode& node) {
    return url_text(node.urlRecord()).value_or("?") + " depth " + std::to_string(node.depth()) + " link " +
           std::to_string(node.isLink()) + " skip " + std::to_string(node.skipReason()) + " result " +
           std::to_string(node.result()) + " error " + std::to_string(node.error());
}

struct Crawl {
    std::vector<std::string> handedOut;  // each node as the walk handed it out
    std::vector<std::string> tree;       // every node in pre-order, with its level
    std::size_t expansions = 0;          // HTML nodes whose links were asked for
};

// The links of the page the order names, appended to the list.
using LinksOf = std::function<void(const CrawlerOrder&, LinkList&)>;
// The same, read as the crawler reads the node's copy.
using ScannedLinksOf = std::function<void(const CrawlerOrder&, LinkScan, LinkList&)>;

// One run from the start page with bench/crawl.py's job: `maxDepth`
// (kUnlimited there) inside the start directory, update check "always", no
// retries, and the page requisites as `pageRequisites` says. Each node handed
// out is fetched from `docs` unless it took over an earlier copy's result; a
// node whose links the crawler reads (link_scan_for) gets them from
// `links_of`, its resources added first, then its hyperlinks.
inline Crawl crawl_docs(const fs::path& docs, int maxDepth, int pageRequisites, const ScannedLinksOf& links_of) {
    FakePageTreeView view;
    view.keep_log = false;
    PageTree tree(view);
    AutoGetSettings defaults;
    defaults.recStatusLink = static_cast<std::uint32_t>(maxDepth);
    defaults.recStatusModify = 2;
    defaults.recStatusLimit = 0;
    defaults.recStatusRetry = 0;
    defaults.recStatusRequisites = static_cast<std::uint32_t>(pageRequisites);
    const std::string start = std::string(kSite) + "index.html";
    Crawl crawl;
    if (reserve_base_url(tree, defaults, kSaveFolder, "GET", start, *parse_url(start), std::nullopt,
                         "Mozilla/5.0 (crawl bench)", [] { return true; }) != ReserveOutcome::added) {
        return crawl;
    }

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
        std::optional<std::string> type;
        if (result == 0) {
            const Served served = serve(docs, order.url);
            if (served.status == 200) type = nginx_type(served.file);
            result = served.status == 200 ? classify_fetch(200, true, type)
                                          : classify_fetch(served.status, false, std::nullopt);
        }
        LinkList links;
        if (const std::optional<LinkScan> scan = link_scan_for(result, order.hasChildren, order.job.pageRequisites, type)) {
            links_of(order, *scan, links);
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

// The run without page requisites, where only HTML pages are read.
inline Crawl crawl_docs(const fs::path& docs, int maxDepth, const LinksOf& links_of) {
    return crawl_docs(docs, maxDepth, 0,
                      [&](const CrawlerOrder& order, LinkScan, LinkList& links) { links_of(order, links); });
}

}  // namespace vellum::testing::docs
