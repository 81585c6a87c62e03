// The HTTP/1.0 message model: the parsed URL, the client request and the
// server's response header, with the parsers and builders that move between
// them and wire text.
//
// Everything here is plain data and pure functions over a ByteSource; any
// thread may call them. Parsers return an owned record or nothing, and report
// the connection's status word through `status`, which they leave untouched
// on success:
//   request:  1 no header block or no body byte, 2 request line without
//             version or line end, 3 method or target missing, 4 target not a
//             URL, 5 body too large to hold (no memory, or beyond
//             kMaxRequestBody), 8 socket error while discarding trailing bytes
//   response: 1 no header block, 2 no space in the status line, 3 no second
//             space, 4 no "/" in the first word, 5 first word not "HTTP/..."
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/clock.h"
#include "http/byte_source.h"
#include "http/line_list.h"

namespace vellum {

// The proxy's own request lines. They take effect only on the program's own
// connections (its crawler's and its forced-get queue's); on any other they
// are ordinary unknown headers, or a web page could have the proxy go online
// and record into any folder it names. They are never sent on either way.
inline constexpr char kAutoGetMarkLine[] = "Vellum-Mode: RecMode\r\n";
inline constexpr char kForcedGetMarkLine[] = "Vellum-Mode: GetOnly\r\n";
inline constexpr char kLocalPathPrefix[] = "Vellum-LocalPath: ";

// Request bodies are held whole; a Content-Length beyond this is refused
// (status 5) instead of being allocated.
inline constexpr std::int32_t kMaxRequestBody = 64 * 1024 * 1024;

// Paths are limited by the platform's MAX_PATH buffers.
inline constexpr std::size_t kPathBufferSize = 260;

struct ParsedUrl {
    std::optional<std::string> scheme;
    std::optional<std::string> host;
    std::optional<std::string> port;      // digits as text
    std::optional<std::string> path;      // begins with "/"
    std::optional<std::string> query;     // without "?"
    std::optional<std::string> fragment;  // without "#"
    std::optional<std::string> opaque;    // schemes other than "http" and "https": all after ":"

    bool operator==(const ParsedUrl&) const = default;
};

struct ProxyRequest {
    LineList lines;  // request line first, terminating empty line last
    std::optional<std::string> method;
    std::optional<std::string> url;
    std::optional<std::string> version;
    std::optional<std::string> referer;
    std::optional<std::string> host;
    std::optional<std::string> if_modified_since;
    std::optional<std::string> authorization;
    std::optional<std::string> user_agent;
    std::optional<std::string> body;  // the bytes received, zero bytes included
    ParsedUrl parsed_url;
    std::optional<ParsedUrl> parsed_referer;
    FileTime if_modified_since_time = 0;
    bool autoget_mark = false;
    bool forced_get_mark = false;
    bool if_modified_since_valid = false;
    std::int32_t content_length = -1;
    double version_number = 0.9;
    std::string local_root;  // shorter than kPathBufferSize; empty when absent
};

struct ServerResponse {
    LineList lines;  // status line first, terminating empty line last
    std::optional<std::string> last_modified;
    std::optional<std::string> content_type;
    std::optional<std::string> www_authenticate;
    std::optional<std::string> partner_page;
    FileTime last_modified_time = 0;
    std::int32_t status = -1;
    bool last_modified_valid = false;
    std::int32_t content_length = -1;
    double version_number = -1.0;
    LineList set_cookies;  // one value per Set-Cookie header
};

// "http" and "https", exactly (lower case): the schemes whose URLs have a
// host and a path. Every other scheme, the same letters in upper case
// included, keeps its text after ":" as the opaque part.
inline bool is_web_scheme(std::string_view scheme) { return scheme == "http" || scheme == "https"; }
// Whether `url` is an https:// URL: fetched over TLS, stored apart from http://.
inline bool is_https(const ParsedUrl& url) { return url.scheme && *url.scheme == "https"; }
// The port a web URL without one is served on: 443 for https, 80 for http.
inline int default_port(const ParsedUrl& url) { return is_https(url) ? 443 : 80; }

std::optional<ParsedUrl> parse_url(std::string_view text);

// Who sent a request: a stranger (a browser, anything that connects), or the
// program itself on a connection it announced (proxy/own_connections.h).
enum class RequestSender { stranger, own };

std::unique_ptr<ProxyRequest> parse_request(ByteSource& source, int& status,
                                            RequestSender sender = RequestSender::stranger);
std::unique_ptr<ServerResponse> parse_response_header(ByteSource& source, int& status);

// The request for the server: request line with the origin or absolute form
// of the target and " HTTP/1.0", then the client's lines filtered. Ends before
// the empty line; the caller adds the Cookie line and "\r\n".
std::optional<LineList> build_server_request(const LineList& client_lines, const ParsedUrl& url,
                                             bool absolute_form, bool drop_if_modified_since);

// The response header for the browser: "HTTP/1.0" and the server's status,
// without ETag, Accept-Ranges and Connection lines.
std::optional<LineList> build_client_response_header(const LineList& server_lines);

// One of the proxy's own request lines (either mode line, or a local-path line).
bool is_own_request_line(std::string_view line);

// Case-insensitive comparison of the first `length` bytes of `line` with `name`.
bool header_name_is(std::string_view line, std::string_view name);

}  // namespace vellum
