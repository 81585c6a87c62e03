// Page tree growth under one base URL: a crawl of a made-up site where every
// page links its site-wide navigation, a few neighbours and shared images,
// so most links found are duplicates, as on real sites. The crawl loop is
// the window's: next_node, record the result, add the page's resources and
// links. Prints the time until the tree holds the asked number of nodes, and
// the heap the tree holds per node beyond the text of its distinct URLs
// (every block counted with its allocator's rounding and an 8-byte header;
// the view keeps nothing, as the window's keeps nothing for a node without
// an item).
// Usage: bench_page_tree [nodes]
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <set>
#include <random>
#include <string>
#include <vector>

#include "autoget/page_tree.h"
#include "bench/bench_clock.h"

namespace {

std::size_t g_live_bytes = 0;

// A view that holds nothing: the tree's own cost alone.
class NoView : public vellum::PageTreeView {
public:
    Item insert_last(Item, const std::string&, vellum::PageNode* node) override { return node; }
    void delete_item(Item) override {}
    void set_state_image(Item, int) override {}
    void ensure_visible(Item) override {}
    void collapse(Item) override {}
    void select(Item) override {}
};

}  // namespace

void* operator new(std::size_t size) {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (!block) throw std::bad_alloc();
    g_live_bytes += malloc_usable_size(block) + 8;
    return block;
}
void operator delete(void* block) noexcept {
    if (!block) return;
    g_live_bytes -= malloc_usable_size(block) + 8;
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    operator delete(block);
}

namespace {

std::string page_url(int number) {
    return "http://site.test/s" + std::to_string(number % 97) + "/p" + std::to_string(number) + ".html";
}

}  // namespace

int main(int argc, char** argv) {
    using namespace vellum;
    const std::size_t target = argc > 1 ? static_cast<std::size_t>(std::atoll(argv[1])) : 100000;
    constexpr int kSitePages = 60000;

    NoView view;
    const std::size_t live_before = g_live_bytes;
    auto owned_tree = std::make_unique<PageTree>(view);
    PageTree& tree = *owned_tree;
    std::set<std::string> distinct;
    AutoGetJob job;
    job.maxDepth = 100;
    job.restrictions = LineList{"http://site.test/"};
    job.skipExtensions = LineList{"zip", "exe"};
    const ParsedUrl base_url = *parse_url("http://site.test/");

    std::mt19937 random(7);
    std::size_t offered = 0;
    std::size_t admitted = 0;
    const double start = bench::seconds_now();
    tree.add_child(false, nullptr, &base_url, std::make_unique<AutoGetJob>(job));
    PageNode* node = nullptr;
    while (tree.node_count() < target) {
        node = tree.next_node(node, false, LineList{});
        if (!node) break;
        const bool html = node->url().size() > 5 && node->url().compare(node->url().size() - 5, 5, ".html") == 0;
        tree.record_fetch_result(*node, html || node->is_base() ? 2 : 3);
        if (!html && !node->is_base()) continue;

        std::vector<std::pair<bool, std::string>> found;
        for (int i = 0; i < 4; ++i) found.emplace_back(false, "http://site.test/img/i" + std::to_string(random() % 40) + ".gif");
        for (int i = 0; i < 12; ++i) found.emplace_back(true, page_url(i));  // navigation
        for (int i = 0; i < 8; ++i) found.emplace_back(true, page_url(static_cast<int>(random() % kSitePages)));
        found.emplace_back(true, "http://other.test/");
        for (const auto& [isLink, url] : found) {
            const ParsedUrl parsed = *parse_url(url);
            ++offered;
            distinct.insert(url);
            if (PageNode* added = tree.add_child(isLink, node, &parsed, nullptr)) {
                if (added->skipReason() == 0) ++admitted;
                if (tree.node_count() >= target) break;
            }
        }
    }
    const double elapsed = bench::seconds_now() - start;
    const std::size_t held = g_live_bytes - live_before;
    std::size_t url_bytes = 0;
    for (const std::string& url : distinct) url_bytes += url.size() + 1;
    std::printf("page tree: %zu nodes under one base URL (%zu links offered, %zu admitted, the rest duplicates "
                "or excluded) in %.3f s\n",
                tree.node_count(), offered, admitted, elapsed);
    std::printf("page tree: %.0f bytes of heap per node beyond the text of its %zu distinct URLs "
                "(includes the duplicate index)\n",
                (static_cast<double>(held) - static_cast<double>(url_bytes)) / static_cast<double>(tree.node_count()),
                distinct.size());
    return 0;
}
