// Lists the links of recorded pages, one line per entry, for the
// differential test against the reference extractor (compare_links.py).
//
// Usage: link_dump [--requisites | --stylesheet] <page URL prefix> <folder>
// reads page paths relative to the folder from standard input, one a line;
// for each writes "== path" and then "<isLink> <URL>" per entry, with bytes
// below 0x20, 0x7F and "\" in a URL written as \xHH. --requisites reads the
// pages with their requisites, --stylesheet reads the files as stylesheets.
#include <cstdio>
#include <iostream>
#include <string>

#include "autoget/link_extractor.h"
#include "http/url_text.h"

namespace {

class FilePageSource : public vellum::PageSource {
public:
    explicit FilePageSource(std::FILE* file) : file_(file) {}
    int read(char* buffer, int size) override {
        const std::size_t count = std::fread(buffer, 1, static_cast<std::size_t>(size), file_);
        if (count == 0) return std::ferror(file_) ? -1 : 0;
        return static_cast<int>(count);
    }

private:
    std::FILE* file_;
};

std::string escaped(const std::string& text) {
    std::string out;
    for (unsigned char byte : text) {
        if (byte < 0x20 || byte == 0x7F || byte == '\\') {
            char code[5];
            std::snprintf(code, sizeof code, "\\x%02X", byte);
            out += code;
        } else {
            out += static_cast<char>(byte);
        }
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    vellum::LinkScan scan = vellum::LinkScan::page;
    if (argc == 4 && std::string(argv[1]) == "--requisites") scan = vellum::LinkScan::page_with_requisites;
    if (argc == 4 && std::string(argv[1]) == "--stylesheet") scan = vellum::LinkScan::stylesheet;
    if (argc != 3 && (argc != 4 || scan == vellum::LinkScan::page)) {
        std::fprintf(stderr, "usage: link_dump [--requisites | --stylesheet] <page URL prefix> <folder> < paths\n");
        return 2;
    }
    const std::string prefix = argv[argc - 2];
    const std::string folder = argv[argc - 1];
    std::string path;
    while (std::getline(std::cin, path)) {
        std::FILE* file = std::fopen((folder + "/" + path).c_str(), "rb");
        if (!file) {
            std::fprintf(stderr, "cannot open %s\n", path.c_str());
            return 1;
        }
        FilePageSource source(file);
        vellum::LinkList links;
        const std::optional<vellum::ParsedUrl> page = vellum::parse_url(prefix + path);
        if (page) vellum::scan_links(source, *page, scan, links);
        std::fclose(file);
        std::printf("== %s\n", path.c_str());
        for (const vellum::LinkEntry& entry : links) {
            std::printf("%d %s\n", entry.isLink, escaped(vellum::url_text(entry.url).value_or("")).c_str());
        }
    }
    return 0;
}
