// A server's (or an upstream proxy's) response header through
// parse_response_header, and the header the browser would get from it.
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "http/http_message.h"
#include "tests/support/string_source.h"

namespace vellum::fuzz {
namespace {

void check_values(const ServerResponse& response) {
    for (const auto* value : {&response.last_modified, &response.content_type, &response.www_authenticate,
                              &response.partner_page}) {
        require(!*value || !has_line_break(**value), "a parsed value holds no line break");
    }
    std::size_t cookie_lines = 0;
    for (const std::string& line : response.lines) cookie_lines += header_name_is(line, "set-cookie");
    require(response.set_cookies.size() <= cookie_lines, "one cookie value per Set-Cookie line at most");
    for (const std::string& cookie : response.set_cookies) {
        require(!has_line_break(cookie), "a cookie value holds no line break");
    }
    require(response.lines.front().compare(0, 5, "HTTP/") == 0, "the status line begins with HTTP/");
}

void check_client_header(const ServerResponse& response) {
    const std::optional<LineList> built = build_client_response_header(response.lines);
    require(built.has_value(), "a parsed status line always gives a client header");
    const std::string& status_line = response.lines.front();
    require(built->front() == "HTTP/1.0" + status_line.substr(status_line.find(' ')),
            "the browser gets HTTP/1.0 and the server's status");
    require(is_empty_line(built->back()), "the client header keeps its empty line");

    // The rest is the server's lines in their order, some left out.
    std::size_t from = 1;
    for (std::size_t i = 1; i < built->size(); ++i) {
        const std::string& line = (*built)[i];
        require(!header_name_is(line, "etag") && !header_name_is(line, "accept-ranges") &&
                    !header_name_is(line, "connection"),
                "ETag, Accept-Ranges and Connection never reach the browser");
        while (from < response.lines.size() && response.lines[from] != line) ++from;
        require(from < response.lines.size(), "every line comes from the server, in order");
        ++from;
    }
}

}  // namespace
}  // namespace vellum::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vellum;
    using namespace vellum::fuzz;
    const std::string input = input_text(data, size);
    vellum::testing::StringSource source(input);
    int status = 0;
    const std::unique_ptr<ServerResponse> response = parse_response_header(source, status);
    if (!response) {
        require(status >= 1 && status <= 5, "a refused header has a response status");
        return 0;
    }
    require(status == 0, "a parsed header leaves the status alone");
    const std::size_t header_size = check_header_block(response->lines, input);
    require(source.remaining() == std::string_view(input).substr(header_size),
            "the body stays in the source for the relay");
    check_values(*response);
    check_client_header(*response);
    return 0;
}
