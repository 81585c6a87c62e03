// Stylesheets through extract_stylesheet_links: every entry an embedded
// resource with an absolute http URL, each reference short, non-empty and
// without surrounding white space, and the same entries however the sheet is
// handed out by its source. A comment put in front changes nothing.
#include <string>

#include "autoget/link_extractor.h"
#include "fuzz/fuzz_check.h"
#include "http/url_text.h"

namespace vellum::fuzz {
namespace {

LinkList links_of(const std::string& sheet, const ParsedUrl& url, std::size_t chunk) {
    MemoryPageSource source(sheet, chunk);
    LinkList links;
    extract_stylesheet_links(source, url, links);
    return links;
}

bool same(const LinkList& a, const LinkList& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!(a[i].url == b[i].url) || a[i].isLink != b[i].isLink) return false;
    }
    return true;
}

bool white(char ch) {
    return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n' || ch == '\f';
}

}  // namespace
}  // namespace vellum::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vellum;
    using namespace vellum::fuzz;
    const std::string sheet = input_text(data, size);
    static const ParsedUrl kSheetUrl = *parse_url("http://h:81/static/css/site.css?v=1");

    for (const std::string& reference : stylesheet_references(sheet)) {
        require(!reference.empty() && reference.size() < kTagTextLimit, "a reference is short and not empty");
        require(!white(reference.front()) && !white(reference.back()), "a reference has no surrounding white space");
    }
    const LinkList whole = links_of(sheet, kSheetUrl, sheet.size() + 1);
    for (const LinkEntry& entry : whole) {
        require(entry.isLink == 0, "a stylesheet's reference is an embedded resource");
        require(entry.url.scheme == "http", "an entry is an http URL");
        require(entry.url.host.has_value(), "an entry has a host");
        require(entry.url.path && !entry.url.path->empty() && entry.url.path->front() == '/',
                "an entry's path begins with /");
        require(!entry.url.fragment, "an entry has no fragment");
    }
    require(same(whole, links_of(sheet, kSheetUrl, 1)), "one byte per read gives the same entries");
    const std::size_t odd_chunk = size ? 1 + data[0] % 61 : 1;
    require(same(whole, links_of(sheet, kSheetUrl, odd_chunk)), "short reads give the same entries");
    require(same(whole, links_of("/* url(x.png) @import 'y.css'; */" + sheet, kSheetUrl, sheet.size() + 40)),
            "a comment in front changes nothing");
    return 0;
}
