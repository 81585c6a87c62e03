// Link extraction speed over real pages: every HTML page under a folder
// (the Python documentation by default) is read into memory once, then
// extracted several times over; prints MB/s of page bytes.
// Usage: bench_link_extraction [folder] [rounds]
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "autoget/link_extractor.h"
#include "bench/bench_clock.h"

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    const fs::path folder = argc > 1 ? argv[1] : "/usr/share/doc/python3-doc/html";
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    if (!fs::is_directory(folder)) {
        std::printf("bench_link_extraction: skipped: no %s\n", folder.c_str());
        return 0;
    }

    struct Page {
        std::string bytes;
        vellum::ParsedUrl url;
    };
    std::vector<Page> pages;
    std::size_t total = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder, fs::directory_options::follow_directory_symlink)) {
        const std::string extension = entry.path().extension().string();
        if (!entry.is_regular_file() || (extension != ".html" && extension != ".htm")) continue;
        std::ifstream file(entry.path(), std::ios::binary);
        std::ostringstream bytes;
        bytes << file.rdbuf();
        const std::string relative = fs::relative(entry.path(), folder).generic_string();
        pages.push_back({bytes.str(), vellum::parse_url("http://docs.test/3/" + relative).value()});
        total += pages.back().bytes.size();
    }

    std::size_t entries = 0;
    double best = 1e30;
    for (int round = 0; round < rounds; ++round) {
        entries = 0;
        const double start = vellum::bench::seconds_now();
        for (const Page& page : pages) {
            vellum::MemoryPageSource source(page.bytes);
            vellum::LinkList links;
            vellum::extract_links(source, page.url, links);
            entries += links.size();
        }
        best = std::min(best, vellum::bench::seconds_now() - start);
    }
    const double megabytes = static_cast<double>(total) / 1e6;
    std::printf("link extraction: %zu pages, %.1f MB, %zu entries; best of %d rounds %.3f s = %.0f MB/s\n",
                pages.size(), megabytes, entries, rounds, best, megabytes / best);
    return 0;
}
