// Recorded pages through extract_links: every entry an absolute http URL
// with a path and no fragment, and the same entries however the page is
// handed out by its source. With the page requisites too: the same holds, and
// the entries without them are those with them, requisites left out.
#include <string>

#include "autoget/link_extractor.h"
#include "fuzz/fuzz_check.h"
#include "http/url_text.h"

namespace vellum::fuzz {
namespace {

LinkList links_of(const std::string& page, const ParsedUrl& url, std::size_t chunk, bool requisites = false) {
    MemoryPageSource source(page, chunk);
    LinkList links;
    extract_links(source, url, links, requisites);
    return links;
}

// Whether `part` is `whole` with some entries left out.
bool subsequence(const LinkList& part, const LinkList& whole) {
    std::size_t at = 0;
    for (const LinkEntry& entry : whole) {
        if (at < part.size() && part[at].url == entry.url && part[at].isLink == entry.isLink) ++at;
    }
    return at == part.size();
}

bool same(const LinkList& a, const LinkList& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!(a[i].url == b[i].url) || a[i].isLink != b[i].isLink) return false;
    }
    return true;
}

}  // namespace
}  // namespace vellum::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vellum;
    using namespace vellum::fuzz;
    const std::string page = input_text(data, size);
    static const ParsedUrl kPageUrl = *parse_url("http://h:81/d1/d2/page.html?q");

    const LinkList whole = links_of(page, kPageUrl, page.size() + 1);
    const LinkList requisites = links_of(page, kPageUrl, page.size() + 1, true);
    require(subsequence(whole, requisites), "the requisites only add entries");
    for (const LinkEntry& entry : requisites) {
        require(entry.url.scheme && is_web_scheme(*entry.url.scheme), "an entry is an http or https URL");
        require(entry.url.host.has_value(), "an entry has a host");
        require(entry.url.path && !entry.url.path->empty() && entry.url.path->front() == '/',
                "an entry's path begins with /");
        require(!entry.url.fragment, "an entry has no fragment");
        require(!entry.url.opaque, "an entry has no opaque part");
        require(entry.isLink == 0 || entry.isLink == 1, "an entry is a link or a resource");
        const std::optional<std::string> text = url_text(entry.url);
        require(text.has_value(), "an entry has a URL text");
        const std::optional<ParsedUrl> again = parse_url(*text);
        require(again && *again == entry.url, "an entry's URL text parses back to the entry");
    }

    // Byte by byte is the reading the rules describe; blocks must agree.
    require(same(whole, links_of(page, kPageUrl, 1)), "one byte per read gives the same entries");
    const std::size_t odd_chunk = size ? 1 + data[0] % 61 : 1;
    require(same(whole, links_of(page, kPageUrl, odd_chunk)), "short reads give the same entries");
    require(same(requisites, links_of(page, kPageUrl, odd_chunk, true)), "short reads give the same requisites");
    return 0;
}
