// Re-expansions with and without the link cache, under Wine on real page
// files: every HTML page of the Python documentation is recorded into a
// fresh save folder as the proxy records it, then the documentation's
// auto-get run (bench/crawl.py's job, tests/support/docs_crawl.h) is walked
// twice, each expansion's links read from the save folder: as the crawler
// read them before (open_recorded_page, read, scan, every time) and through
// the crawler's LinkCache. Only the time spent getting links is counted.
// Whichever walk comes second in one process runs slower under Wine (up to
// three times, after the first walk's 260 000 nodes were freed), so each way
// is timed in a process of its own; "both" walks both and checks they hand
// out the same nodes and end with the same tree.
// Usage: wine bench_link_cache.exe reading|cache|both [docs folder] [depth]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "autoget/link_cache.h"
#include "autoget/link_cache_win.h"
#include "bench/bench_clock.h"
#include "store/recorded_page.h"
#include "store/recorded_page_win.h"
#include "store/store_files_win.h"
#include "store/url_map.h"
#include "tests/support/docs_crawl.h"

namespace {

using namespace vellum;
using namespace vellum::testing::docs;

class FilePageSource : public PageSource {
public:
    explicit FilePageSource(HANDLE file) : file_(file) {}
    int read(char* buffer, int size) override {
        DWORD got = 0;
        if (!ReadFile(file_, buffer, static_cast<DWORD>(size), &got, nullptr)) return -1;
        return static_cast<int>(got);
    }

private:
    HANDLE file_;
};

// Records each HTML page as a 200 text/html answer; the number recorded.
int record_docs(const fs::path& docs, const std::string& save) {
    int recorded = 0;
    ServerResponse response;
    response.status = 200;
    response.content_type = "text/html";
    for (const auto& file : fs::recursive_directory_iterator(docs, fs::directory_options::follow_directory_symlink)) {
        if (!file.is_regular_file() || file.path().extension() != ".html") continue;
        const std::optional<ParsedUrl> url =
            parse_url(std::string(kSite) + fs::relative(file.path(), docs).generic_string());
        const std::optional<std::string> store_path = url ? url_store_path(save, *url) : std::nullopt;
        if (!store_path) continue;
        const std::string receiving = receiving_file_name(*store_path, 1);
        {
            FileHandle out = create_file_with_folders(receiving);
            const std::string bytes = file_bytes(file.path());
            DWORD written = 0;
            if (!out || !WriteFile(out.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
                continue;
            }
        }
        if (!commit_recorded_page(save, *url, response, receiving)) ++recorded;
    }
    return recorded;
}

struct Timing {
    std::set<std::string> seen;
    std::size_t first = 0, again = 0;
    double firstSeconds = 0, againSeconds = 0;

    template <typename Get>
    void time(const CrawlerOrder& order, Get get) {
        const bool before = !seen.insert(order.urlText).second;
        const double start = bench::seconds_now();
        get();
        const double took = bench::seconds_now() - start;
        (before ? again : first) += 1;
        (before ? againSeconds : firstSeconds) += took;
    }
    void print(const char* what) const {
        std::printf("%-22s %6zu first expansions %7.3f s (%6.0f us each); %6zu re-expansions %7.3f s (%6.0f us each)\n",
                    what, first, firstSeconds, first ? firstSeconds / first * 1e6 : 0.0, again, againSeconds,
                    again ? againSeconds / again * 1e6 : 0.0);
    }
};

void remove_tree(const std::string& path) {
    std::error_code error;
    fs::remove_all(path, error);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "both";
    const fs::path docs = argc > 2 ? argv[2] : "Z:\\usr\\share\\doc\\python3-doc\\html";
    const int depth = argc > 3 ? std::atoi(argv[3]) : kUnlimited;
    const bool reading = mode == "reading" || mode == "both";
    const bool caching = mode == "cache" || mode == "both";
    std::error_code error;
    if (!fs::is_directory(docs, error)) {
        std::printf("bench_link_cache: skipped: no %s\n", docs.string().c_str());
        return 0;
    }
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string save = std::string(temp) + "vellum-link-cache-bench-" + std::to_string(GetCurrentProcessId());
    remove_tree(save);
    CreateDirectoryA(save.c_str(), nullptr);
    const double recordStart = bench::seconds_now();
    const int recorded = record_docs(docs, save);
    std::printf("recorded %d pages into %s in %.1f s\n", recorded, save.c_str(), bench::seconds_now() - recordStart);

    Timing before;
    Crawl fresh;
    if (reading) fresh = crawl_docs(docs, depth, [&](const CrawlerOrder& order, LinkList& links) {
        before.time(order, [&] {
            std::optional<RecordedPage> page = open_recorded_page(save, order.url);
            if (!page) return;
            FilePageSource source(page->file.get());
            extract_links(source, order.url, links);
        });
    });

    Timing after;
    RecordedPageLinks pages;
    LinkCache cache(pages);
    Crawl cached;
    if (caching) cached = crawl_docs(docs, depth, [&](const CrawlerOrder& order, LinkList& links) {
        after.time(order, [&] { cache.links_of(save, order.url, links); });
    });
    remove_tree(save);

    const Crawl& walked = caching ? cached : fresh;
    std::printf("depth %d: %zu nodes handed out, %zu tree nodes\n", depth, walked.handedOut.size(),
                walked.tree.size());
    if (reading) before.print("reading every time:");
    if (caching) {
        after.print("through the cache:");
        std::printf("cache: %zu pages kept in %.2f MB, %zu hits, %zu extractions\n", cache.pages(),
                    static_cast<double>(cache.bytes()) / 1e6, cache.counts().hits, cache.counts().extractions);
    }
    bool same = true;
    if (reading && caching) {
        same = fresh.handedOut == cached.handedOut && fresh.tree == cached.tree;
        std::printf("both walks %s\n", same ? "the same" : "DIFFERENT");
    }
    return same ? 0 : 1;
}
