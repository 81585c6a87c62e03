// Request targets, Referer values and link values through parse_url, and the
// text forms the request builders make of the result.
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "http/http_message.h"
#include "http/url_text.h"

namespace vellum::fuzz {
namespace {

void check_http(const ParsedUrl& url, std::string_view before_fragment) {
    require(url.host && url.path, "an http URL has a host and a path");
    require(!url.opaque, "an http URL has no opaque part");
    require(!url.path->empty() && (*url.path)[0] == '/', "the path of an http URL begins with /");
    require(url.host->find_first_of("/:") == std::string::npos, "the host holds no / or :");
    require(url.port.value_or("").find('/') == std::string::npos, "the port holds no /");

    const std::optional<std::string> text = url_text(url);
    require(text && *text == before_fragment, "url_text gives back the URL without its fragment");
    const std::optional<std::string> host_port = url_host_port(url);
    const std::optional<std::string> path_query = url_path_query(url);
    require(host_port && path_query && *text == *url.scheme + "://" + *host_port + *path_query,
            "the absolute form is the host part and the path part");

    ParsedUrl without_fragment = url;
    without_fragment.fragment.reset();
    const std::optional<ParsedUrl> again = parse_url(*text);
    require(again && *again == without_fragment, "url_text parses back to the same URL");
}

}  // namespace
}  // namespace vellum::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vellum;
    using namespace vellum::fuzz;
    const std::string input = input_text(data, size);
    const std::size_t hash = input.find('#');
    const std::string_view before_fragment = std::string_view(input).substr(0, hash);
    const std::string_view before_query = before_fragment.substr(0, before_fragment.find('?'));

    const std::optional<ParsedUrl> url = parse_url(input);
    if (!url) {
        require(before_query.substr(0, 5) == "http:" || before_query.substr(0, 6) == "https:",
                "only an http or https URL can fail to parse");
        return 0;
    }
    require(url->fragment == (hash == std::string::npos ? std::nullopt : std::optional(input.substr(hash + 1))),
            "the fragment is all after the first #");
    require(!url->query || url->query->find('#') == std::string::npos, "the query ends at the fragment");
    require(!url->path || url->path->find_first_of("?#") == std::string::npos, "the path ends at ? or #");

    if (before_query.find(':') == std::string_view::npos) {
        require(!url->scheme && !url->host && !url->opaque, "without a colon there is only a path");
        require(url->path.value_or("") == before_query, "without a colon the rest is the path");
    } else if (url->scheme && is_web_scheme(*url->scheme)) {
        check_http(*url, before_fragment);
    } else {
        require(url->scheme && !url->host && !url->path, "another scheme has only an opaque part");
        require(*url->scheme + ":" + url->opaque.value_or("") == before_query,
                "another scheme keeps all after its colon");
    }
    return 0;
}
