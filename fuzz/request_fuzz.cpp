// Bytes from a browser (or anything that connects to the proxy port) through
// parse_request, as a stranger's and as the program's own, and every parsed
// request rebuilt for the server in all four ways the connection handler can
// ask for.
#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "http/http_message.h"
#include "http/url_text.h"
#include "tests/support/string_source.h"

namespace vellum::fuzz {
namespace {

// Headers the proxy must never pass on: its own marker lines, the cookies the
// jar replaces, and what would make the server answer with something the
// recorder can't keep (partial, negotiated or compressed bodies).
constexpr std::array<std::string_view, 7> kDroppedNames = {
    "cookie", "proxy-connection", "if-none-match", "range", "if-range", "accept-language", "accept-encoding"};

bool is_dropped(std::string_view line, bool drop_if_modified_since) {
    if (line == kAutoGetMarkLine || line == kForcedGetMarkLine) return true;
    if (line.substr(0, std::string_view(kLocalPathPrefix).size()) == kLocalPathPrefix) return true;
    for (std::string_view name : kDroppedNames) {
        if (header_name_is(line, name)) return true;
    }
    return drop_if_modified_since && header_name_is(line, "if-modified-since");
}

void check_values(const ProxyRequest& request) {
    // The request line's words are cut at spaces, so a stray CR may stay in
    // them; the header values end at the first CR.
    for (const auto* word : {&request.method, &request.url, &request.version}) {
        require(!*word || (*word)->find('\n') == std::string::npos, "a request-line word holds no LF");
    }
    for (const auto* value : {&request.referer, &request.host, &request.if_modified_since, &request.authorization,
                              &request.user_agent}) {
        require(!*value || !has_line_break(**value), "a header value holds no line break");
    }
    require(request.method && request.url, "a parsed request has a method and a target");
    require(request.method->find(' ') == std::string::npos, "the method ends at the first space");
    require(!has_line_break(request.local_root), "the local root holds no line break");
    require(request.local_root.size() < kPathBufferSize, "the local root fits a path buffer");
    const std::optional<ParsedUrl> url = parse_url(*request.url);
    require(url && *url == request.parsed_url, "parsed_url is the target parsed");
}

void check_body(const ProxyRequest& request, std::string_view input, std::size_t header_size,
                const testing::StringSource& source) {
    const std::string_view after_header = input.substr(header_size);
    if (request.content_length <= 0) {
        require(!request.body, "no body without a positive Content-Length");
        require(source.remaining() == after_header, "nothing past the header block is read");
        return;
    }
    require(request.body.has_value(), "a positive Content-Length reads a body");
    const std::size_t expected = std::min<std::size_t>(static_cast<std::size_t>(request.content_length),
                                                       after_header.size());
    require(*request.body == after_header.substr(0, expected), "the body is the bytes after the header");
    require(source.remaining().empty(), "bytes after the body are discarded");
}

void check_server_request(const ProxyRequest& request, bool absolute_form, bool drop_if_modified_since) {
    const std::optional<LineList> built =
        build_server_request(request.lines, request.parsed_url, absolute_form, drop_if_modified_since);
    const std::optional<std::string> target =
        absolute_form ? url_text(request.parsed_url) : url_path_query(request.parsed_url);
    if (!target) {
        require(!built, "no request without a target");
        return;
    }
    if (!built) return;  // a request line with fewer than two spaces

    const std::string& line = built->front();
    require(is_one_wire_line(line), "the request line is one line");
    const std::string start = *request.method + " " + *target;
    require(line.compare(0, start.size(), start) == 0, "the request line is the method and the target");
    const std::optional<std::string>& version = request.version;
    if (version && version->size() >= 5 && header_name_is(*version, "http/")) {
        require(line == start + " HTTP/1.0\r\n", "the version sent is HTTP/1.0");
    }

    for (std::size_t i = 1; i < built->size(); ++i) {
        const std::string& header = (*built)[i];
        require(is_one_wire_line(header), "every header is one line");
        require(!is_empty_line(header), "the built request has no empty line");
        require(!is_dropped(header, drop_if_modified_since), "a dropped header is never sent");
    }
    const std::string wire = built->join();
    require(LineList::split(wire, false, false).size() == built->size(), "the wire has as many lines as the list");
}

}  // namespace
}  // namespace vellum::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vellum;
    using namespace vellum::fuzz;
    const std::string input = input_text(data, size);
    vellum::testing::StringSource own_source(input);
    int own_status = 0;
    const std::unique_ptr<ProxyRequest> own = parse_request(own_source, own_status, RequestSender::own);
    vellum::testing::StringSource source(input);
    int status = 0;
    const std::unique_ptr<ProxyRequest> request = parse_request(source, status);
    require(status == own_status && (request == nullptr) == (own == nullptr),
            "the sender changes what the marker lines mean, never whether a request parses");
    if (request) {
        require(!request->autoget_mark && !request->forced_get_mark && request->local_root.empty(),
                "a stranger's marker lines take no effect");
        require(request->lines == own->lines && request->body == own->body, "both read the same request");
        check_values(*own);
    }
    if (!request) {
        require(status == 1 || status == 2 || status == 3 || status == 4 || status == 5 || status == 8,
                "a refused request has a request status");
        return 0;
    }
    require(status == 0, "a parsed request leaves the status alone");
    const std::size_t header_size = check_header_block(request->lines, input);
    check_values(*request);
    check_body(*request, input, header_size, source);
    for (bool absolute_form : {false, true}) {
        for (bool drop_if_modified_since : {false, true}) check_server_request(*request, absolute_form, drop_if_modified_since);
    }
    return 0;
}
