// Pairs of URL texts (base, then relative, split at the first line feed)
// through parse_url and resolve_url: an absolute http result with a path
// from "/", no dot segment climbing out of it, and resolving the result
// again changes nothing.
#include <string>
#include <string_view>

#include "autoget/link_extractor.h"
#include "fuzz/fuzz_check.h"
#include "http/url_text.h"

namespace vellum::fuzz {
namespace {

bool has_dot_segment(std::string_view path) {
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        const std::string_view segment = path.substr(start, end - start);
        if (segment == "." || segment == "..") return true;
        start = end + 1;
    }
    return false;
}

}  // namespace
}  // namespace vellum::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vellum;
    using namespace vellum::fuzz;
    const std::string input = input_text(data, size);
    const std::size_t split = input.find('\n');
    if (split == std::string::npos) return 0;
    const std::optional<ParsedUrl> base = parse_url(std::string_view(input).substr(0, split));
    const std::optional<ParsedUrl> relative = parse_url(std::string_view(input).substr(split + 1));
    if (!base || !relative) return 0;

    const std::optional<ParsedUrl> url = resolve_url(&*base, &*relative);
    if (!url) return 0;
    require(url->scheme && is_web_scheme(*url->scheme) && url->host && !url->opaque,
            "a result is an absolute http or https URL");
    require(url->scheme == (relative->scheme ? relative->scheme : base->scheme), "the scheme is the reference's or the base's");
    require(url->path && !url->path->empty() && url->path->front() == '/', "a result's path begins with /");
    require(!url->fragment, "a result has no fragment");
    require(url->query == relative->query, "the query is the reference's");
    require(url_text(*url).has_value(), "a result has a URL text");

    const bool relative_path = relative->path->empty() || relative->path->front() != '/';
    if (relative_path) {
        const std::string_view folder = std::string_view(*base->path).substr(0, base->path->rfind('/') + 1);
        require(has_dot_segment(folder) || !has_dot_segment(*url->path),
                "dot segments never survive, nor climb above /");
    } else {
        require(url->path == relative->path, "an absolute path is kept as it is");
    }

    const std::optional<ParsedUrl> again = resolve_url(&*base, &*url);
    require(again && *again == *url, "resolving a result again gives it back");
    const std::optional<ParsedUrl> against_itself = resolve_url(&*url, &*url);
    require(against_itself && *against_itself == *url, "a result resolved against itself is itself");
    return 0;
}
