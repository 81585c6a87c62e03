#include "http/http_message.h"

#include <gtest/gtest.h>

#include "http/line_reader.h"
#include "http/http_date.h"
#include "http/url_text.h"
#include "tests/support/string_source.h"

namespace vellum {
namespace {

using testing::StringSource;

std::unique_ptr<ProxyRequest> request_of(const std::string& wire, int& status,
                                         RequestSender sender = RequestSender::own) {
    StringSource source(wire);
    return parse_request(source, status, sender);
}

std::unique_ptr<ServerResponse> response_of(const std::string& wire, int& status) {
    StringSource source(wire);
    return parse_response_header(source, status);
}

int request_status(const std::string& wire) {
    int status = 0;
    auto request = request_of(wire, status);
    EXPECT_EQ(request == nullptr, status != 0);
    return status;
}

int response_status(const std::string& wire) {
    int status = 0;
    auto response = response_of(wire, status);
    EXPECT_EQ(response == nullptr, status != 0);
    return status;
}

// --- line reader -----------------------------------------------------------

TEST(LineReader, ReadsOneByteAtATimeAndStopsAtTheTerminator) {
    StringSource source("GET / HTTP/1.0\r\nrest");
    EXPECT_EQ(read_line(source, '\n'), "GET / HTTP/1.0\r\n");
    EXPECT_EQ(source.receive_calls, 16);
    EXPECT_EQ(source.remaining(), "rest");
}

TEST(LineReader, LongLinesAreReadWholeAndZeroBytesDropped) {
    std::string long_line(5000, 'x');
    StringSource source(long_line + std::string("a\0b", 3) + "\n");
    EXPECT_EQ(read_line(source, '\n'), long_line + "ab\n");
}

TEST(LineReader, PeerClosingOrFailingLosesThePartialLine) {
    StringSource closed("no end");
    EXPECT_FALSE(read_line(closed, '\n'));
    StringSource failed("no end", true);
    EXPECT_FALSE(read_line(failed, '\n'));
}

TEST(LineReader, EndlessLineIsRefusedAtTheLimit) {
    StringSource source(std::string(kMaxLineBytes + 10, 'x') + "\n");
    EXPECT_FALSE(read_line(source, '\n'));
    EXPECT_LE(source.receive_calls, static_cast<int>(kMaxLineBytes));
}

TEST(LineReader, HeaderBlockKeepsItsEmptyLineAndNotMore) {
    StringSource source("A: 1\r\nB: 2\n\nbody");
    auto block = read_header_block(source);
    ASSERT_TRUE(block);
    EXPECT_EQ(*block, (LineList{"A: 1\r\n", "B: 2\n", "\n"}));
    EXPECT_EQ(source.remaining(), "body");
}

TEST(LineReader, HeaderBlockIsBounded) {
    std::string many;
    while (many.size() <= kMaxHeaderBytes) many += "X-Filler: " + std::string(1000, 'y') + "\r\n";
    StringSource source(many + "\r\n");
    EXPECT_FALSE(read_header_block(source));
    StringSource unterminated("A: 1\r\n");
    EXPECT_FALSE(read_header_block(unterminated));
}

// --- URL parsing -----------------------------------------------------------

TEST(ParseUrl, HttpUrlWithEveryPart) {
    auto url = parse_url("http://h:8000/a?b#c");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->scheme, "http");
    EXPECT_EQ(url->host, "h");
    EXPECT_EQ(url->port, "8000");
    EXPECT_EQ(url->path, "/a");
    EXPECT_EQ(url->query, "b");
    EXPECT_EQ(url->fragment, "c");
    EXPECT_FALSE(url->opaque);
}

TEST(ParseUrl, HttpNeedsSlashesAndAPath) {
    EXPECT_FALSE(parse_url("http://h"));
    EXPECT_FALSE(parse_url("http:h/"));
    EXPECT_FALSE(parse_url("http://h?x=/y"));  // the query is cut off before the path is sought
    auto url = parse_url("http://h/");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->path, "/");
    EXPECT_FALSE(url->port);
    EXPECT_FALSE(url->query);
}

TEST(ParseUrl, HttpsUrlsHaveTheirPartsAndTheirDefaultPort) {
    auto url = parse_url("https://h:8443/a?b#c");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->scheme, "https");
    EXPECT_EQ(url->host, "h");
    EXPECT_EQ(url->port, "8443");
    EXPECT_EQ(url->path, "/a");
    EXPECT_EQ(url->query, "b");
    EXPECT_EQ(url->fragment, "c");
    EXPECT_FALSE(url->opaque);
    EXPECT_TRUE(is_https(*url));
    EXPECT_EQ(url_text(*url), "https://h:8443/a?b");
    EXPECT_EQ(default_port(*parse_url("https://h/")), 443);
    EXPECT_EQ(default_port(*parse_url("http://h/")), 80);
    EXPECT_FALSE(parse_url("https://h"));  // a path is needed, as for http
    auto upper = parse_url("HTTPS://h/");
    ASSERT_TRUE(upper);
    EXPECT_FALSE(upper->host);
    EXPECT_FALSE(is_https(*upper));
    EXPECT_EQ(upper->opaque, "//h/");
}

TEST(ParseUrl, CredentialHostsKeepTheSchemesApart) {
    EXPECT_EQ(credential_host(*parse_url("http://h:81/a"), "h:81"), "h:81");
    EXPECT_EQ(credential_host(*parse_url("https://h:81/a"), "h:81"), "https://h:81");
}

TEST(ParseUrl, OtherSchemesAreOpaque) {
    auto upper = parse_url("HTTP://h/");
    ASSERT_TRUE(upper);
    EXPECT_EQ(upper->scheme, "HTTP");
    EXPECT_EQ(upper->opaque, "//h/");
    EXPECT_FALSE(upper->host);
    auto mail = parse_url("mailto:");
    ASSERT_TRUE(mail);
    EXPECT_FALSE(mail->opaque);  // empty opaque part is absent
}

TEST(ParseUrl, RelativeReferencesAreAPath) {
    auto url = parse_url("img/a.gif?x#y");
    ASSERT_TRUE(url);
    EXPECT_FALSE(url->scheme);
    EXPECT_EQ(url->path, "img/a.gif");
    EXPECT_EQ(url->query, "x");
    auto empty = parse_url("?q");
    ASSERT_TRUE(empty);
    EXPECT_FALSE(empty->path);
}

// --- client requests -------------------------------------------------------

TEST(ParseRequest, RequestLineAndHeaders) {
    int status = 0;
    auto r = request_of(
        "GET http://h/a.html HTTP/1.1\r\n"
        "Referer: http://h/index.html trailing\r\n"
        "User-Agent: Mozilla/4.0 (compatible)\r\n"
        "Host: h \r\n"
        "If-Modified-Since: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
        "Authorization: Basic dXNlcjpwYXNz\r\n"
        "\r\n",
        status);
    ASSERT_TRUE(r);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(r->method, "GET");
    EXPECT_EQ(r->url, "http://h/a.html");
    EXPECT_EQ(r->version, "HTTP/1.1");
    EXPECT_DOUBLE_EQ(r->version_number, 1.1);
    EXPECT_EQ(r->referer, "http://h/index.html");
    ASSERT_TRUE(r->parsed_referer);
    EXPECT_EQ(r->parsed_referer->path, "/index.html");
    EXPECT_EQ(r->user_agent, "Mozilla/4.0 (compatible)");
    EXPECT_EQ(r->host, "h");
    EXPECT_TRUE(r->if_modified_since_valid);
    EXPECT_EQ(format_http_date(r->if_modified_since_time), "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(r->authorization, "Basic dXNlcjpwYXNz");
    EXPECT_EQ(r->content_length, -1);
    EXPECT_FALSE(r->body);
    EXPECT_EQ(r->lines.size(), 7u);
    EXPECT_EQ(r->lines.back(), "\r\n");
}

TEST(ParseRequest, ValuesCutAtASpaceStillEndAtTheLine) {
    int status = 0;
    auto r = request_of(
        "GET http://h/ HTTP/1.0\r\n"
        "Host: h\rX: y\r\n"
        "Referer: http://h/a\rb c\r\n"
        "\r\n",
        status);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->host, "h");
    EXPECT_EQ(r->referer, "http://h/a");
}

TEST(ParseRequest, VersionRules) {
    int status = 0;
    auto nine = request_of("GET http://h/\r\n\r\n", status);
    ASSERT_TRUE(nine);
    EXPECT_EQ(nine->url, "http://h/");
    EXPECT_FALSE(nine->version);
    EXPECT_DOUBLE_EQ(nine->version_number, 0.9);
    auto spaces = request_of("GET   http://h/   http/1.0\r\n\r\n", status);
    ASSERT_TRUE(spaces);
    EXPECT_EQ(spaces->url, "http://h/  ");  // the target runs to the last space
    EXPECT_EQ(spaces->version, "http/1.0");
    auto other = request_of("GET http://h/ FOO\r\n\r\n", status);
    ASSERT_TRUE(other);
    EXPECT_EQ(other->url, "http://h/");
    EXPECT_FALSE(other->version);
}

TEST(ParseRequest, StatusWords) {
    EXPECT_EQ(request_status(""), 1);
    EXPECT_EQ(request_status("GET http://h/ HTTP/1.0\r\n"), 1);  // block never ends
    EXPECT_EQ(request_status("GET\r\n\r\n"), 3);
    EXPECT_EQ(request_status("\r\n"), 3);
    EXPECT_EQ(request_status("GET http://h HTTP/1.0\r\n\r\n"), 4);
    EXPECT_EQ(request_status("GET http:/h/ HTTP/1.0\r\n\r\n"), 4);
    EXPECT_EQ(request_status("POST http://h/ HTTP/1.0\r\nContent-Length: 5\r\n\r\n"), 1);  // no body byte
    EXPECT_EQ(request_status("POST http://h/ HTTP/1.0\r\nContent-Length: 2147483647\r\n\r\nabc"), 5);
    EXPECT_EQ(request_status("GET ftp://host/ HTTP/1.0\r\n\r\n"), 0);  // parses; the handler refuses it
}

TEST(ParseRequest, TrailingBytesFailingIsStatus8) {
    StringSource source("POST http://h/ HTTP/1.0\r\nContent-Length: 3\r\n\r\nabc", true);
    int status = 0;
    EXPECT_FALSE(parse_request(source, status));
    EXPECT_EQ(status, 8);
}

TEST(ParseRequest, BodyIsKeptWholeAndTrailingBytesDropped) {
    int status = 0;
    StringSource source(std::string("POST http://h/ HTTP/1.0\r\nContent-length: 7\r\n\r\na\0b=c&d\r\n", 54));
    auto r = parse_request(source, status);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->content_length, 7);
    EXPECT_EQ(r->body, std::string("a\0b=c&d", 7));
    EXPECT_EQ(source.remaining(), "");
    auto short_body = request_of("POST http://h/ HTTP/1.0\r\nContent-Length: 10\r\n\r\nabc", status);
    ASSERT_TRUE(short_body);
    EXPECT_EQ(short_body->body, "abc");
    auto zero = request_of("POST http://h/ HTTP/1.0\r\nContent-Length: 0\r\n\r\nxyz", status);
    ASSERT_TRUE(zero);
    EXPECT_FALSE(zero->body);
}

TEST(ParseRequest, MarkersMatchTheWholeLineExactly) {
    int status = 0;
    auto r = request_of(
        "GET http://h/ HTTP/1.0\r\n"
        "Vellum-Mode: RecMode\r\n"
        "Vellum-Mode: GetOnly\r\n"
        "Vellum-LocalPath: C:\\save\\here\r\n"
        "\r\n",
        status);
    ASSERT_TRUE(r);
    EXPECT_TRUE(r->autoget_mark);
    EXPECT_TRUE(r->forced_get_mark);
    EXPECT_EQ(r->local_root, "C:\\save\\here");
    auto near = request_of(
        "GET http://h/ HTTP/1.0\r\n"
        "Vellum-Mode: RecMode\n"
        "vellum-mode: GetOnly\r\n"
        "Vellum-Mode: RecMode \r\n"
        "Vellum-LocalPath: " + std::string(260, 'x') + "\r\n"
        "\r\n",
        status);
    ASSERT_TRUE(near);
    EXPECT_FALSE(near->autoget_mark);
    EXPECT_FALSE(near->forced_get_mark);
    EXPECT_EQ(near->local_root, "");
    auto fits = request_of("GET http://h/ HTTP/1.0\r\nVellum-LocalPath: " + std::string(259, 'x') + "\r\n\r\n", status);
    ASSERT_TRUE(fits);
    EXPECT_EQ(fits->local_root.size(), 259u);
}

TEST(ParseRequest, AStrangersMarkerLinesAreOrdinaryUnknownHeaders) {
    const std::string wire =
        "GET http://h/ HTTP/1.0\r\n"
        "Vellum-Mode: RecMode\r\n"
        "Vellum-Mode: GetOnly\r\n"
        "Vellum-LocalPath: C:\\Windows\r\n"
        "Host: h\r\n"
        "\r\n";
    int status = 0;
    auto r = request_of(wire, status, RequestSender::stranger);
    ASSERT_TRUE(r);
    EXPECT_FALSE(r->autoget_mark);
    EXPECT_FALSE(r->forced_get_mark);
    EXPECT_EQ(r->local_root, "");
    EXPECT_EQ(r->host, "h");
    EXPECT_EQ(r->lines.size(), 6u) << "kept as received";
    // ... and, as from the program itself, never sent on.
    auto built = build_server_request(r->lines, r->parsed_url, false, false);
    EXPECT_EQ(built, (LineList{"GET / HTTP/1.0\r\n", "Host: h\r\n"}));
    // Whoever does not say otherwise is a stranger.
    StringSource source(wire);
    EXPECT_FALSE(parse_request(source, status)->autoget_mark);
}

TEST(ParseRequest, LaterHeadersReplaceEarlierOnes) {
    int status = 0;
    auto r = request_of(
        "GET http://h/ HTTP/1.0\r\n"
        "If-Modified-Since: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
        "if-modified-since: bogus\r\n"
        "Referer: http://a/\r\n"
        "referer: not a url http://b\r\n"
        "Hostname: x\r\n"
        "Content-Length: -4\r\n"
        "\r\n",
        status);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->if_modified_since, "bogus");
    EXPECT_FALSE(r->if_modified_since_valid);
    EXPECT_EQ(r->referer, "not");
    ASSERT_TRUE(r->parsed_referer);  // "not" parses as a relative path
    EXPECT_EQ(r->parsed_referer->path, "not");
    EXPECT_EQ(r->host, "x");  // "host" is matched as a 4-byte prefix
    EXPECT_EQ(r->content_length, -4);
    EXPECT_FALSE(r->body);
}

// --- server responses ------------------------------------------------------

TEST(ParseResponse, FieldsAndSetCookies) {
    int status = 0;
    auto r = response_of(
        "HTTP/1.1 200 OK\r\n"
        "Last-Modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
        "Content-Length: 1234\r\n"
        "Content-Type: text/html; charset=Shift_JIS\r\n"
        "Set-Cookie: a=1; path=/\r\n"
        "set-cookie: b=2\r\n"
        "WWW-Authenticate: Basic realm=\"x\"\r\n"
        "X_kestrelonline_page: yes\r\n"
        "\r\n"
        "body",
        status);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    EXPECT_DOUBLE_EQ(r->version_number, 1.1);
    EXPECT_TRUE(r->last_modified_valid);
    EXPECT_EQ(r->last_modified, "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(r->content_length, 1234);
    EXPECT_EQ(r->content_type, "text/html; charset=Shift_JIS");
    EXPECT_EQ(r->set_cookies, (LineList{"a=1; path=/", "b=2"}));
    EXPECT_EQ(r->www_authenticate, "Basic realm=\"x\"");
    EXPECT_EQ(r->partner_page, "yes");
    EXPECT_EQ(r->lines.size(), 9u);
}

TEST(ParseResponse, StatusWords) {
    EXPECT_EQ(response_status(""), 1);
    EXPECT_EQ(response_status("HTTP/1.0\r\n\r\n"), 2);
    EXPECT_EQ(response_status("HTTP/1.0 200\r\n\r\n"), 3);
    EXPECT_EQ(response_status("HTTP1.0 200 OK\r\n\r\n"), 4);
    EXPECT_EQ(response_status("HTTP1.0 200 OK/x\r\n\r\n"), 4);  // the slash must be in the first word
    EXPECT_EQ(response_status("http/1.0 200 OK\r\n\r\n"), 5);
    EXPECT_EQ(response_status("HTTPS/1.0 200 OK\r\n\r\n"), 5);
    EXPECT_EQ(response_status("HTTP/1.0 404 Not Found\r\n\r\n"), 0);
}

TEST(ParseResponse, NoDateMeansInvalidAndMinusOnes) {
    int status = 0;
    auto r = response_of("HTTP/1.0 302 Found\r\nLast-Modified: yesterday\r\n\r\n", status);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 302);
    EXPECT_FALSE(r->last_modified_valid);
    EXPECT_EQ(r->content_length, -1);
    EXPECT_FALSE(r->content_type);
}

// --- building ----------------------------------------------------------------

LineList client_lines(const std::string& wire) {
    return LineList::split(wire, false, false);
}

ParsedUrl url_of(const std::string& text) {
    auto url = parse_url(text);
    EXPECT_TRUE(url);
    return url.value_or(ParsedUrl{});
}

TEST(BuildServerRequest, DirectAndUpstreamRequestLines) {
    LineList lines = client_lines("GET http://h/ HTTP/1.1\r\n\r\n");
    EXPECT_EQ(build_server_request(lines, url_of("http://h/"), false, false), (LineList{"GET / HTTP/1.0\r\n"}));
    EXPECT_EQ(build_server_request(lines, url_of("http://h/"), true, false),
              (LineList{"GET http://h/ HTTP/1.0\r\n"}));
    LineList with_query = client_lines("GET http://h:81/a?b=c#frag HTTP/1.0\r\n\r\n");
    EXPECT_EQ(build_server_request(with_query, url_of("http://h:81/a?b=c#frag"), false, false),
              (LineList{"GET /a?b=c HTTP/1.0\r\n"}));
    EXPECT_EQ(build_server_request(with_query, url_of("http://h:81/a?b=c#frag"), true, false),
              (LineList{"GET http://h:81/a?b=c HTTP/1.0\r\n"}));
}

TEST(BuildServerRequest, HttpsTargetsKeepTheirSchemeInTheAbsoluteForm) {
    LineList lines = client_lines("GET https://h:8443/a?q HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(build_server_request(lines, url_of("https://h:8443/a?q"), false, false),
              (LineList{"GET /a?q HTTP/1.0\r\n", "Host: h:8443\r\n"}));
    EXPECT_EQ(build_server_request(lines, url_of("https://h:8443/a?q"), true, false),
              (LineList{"GET https://h:8443/a?q HTTP/1.0\r\n", "Host: h:8443\r\n"}));
}

TEST(BuildServerRequest, OddVersionsAndTooFewSpaces) {
    EXPECT_EQ(build_server_request(client_lines("GET http://h/ FOO/2\r\n\r\n"), url_of("http://h/"), false, false),
              (LineList{"GET / FOO/2\r\n"}));
    EXPECT_FALSE(build_server_request(client_lines("GET http://h/\r\n\r\n"), url_of("http://h/"), false, false));
    ParsedUrl no_path;
    no_path.scheme = "http";
    no_path.host = "h";
    EXPECT_FALSE(build_server_request(client_lines("GET http://h/ HTTP/1.0\r\n\r\n"), no_path, false, false));
}

TEST(BuildServerRequest, HeaderFilter) {
    LineList lines = client_lines(
        "GET http://h:8080/x HTTP/1.1\r\n"
        "Accept: text/html\r\n"
        "Accept-Charset: utf-8\r\n"
        "Accept-Language: ja\r\n"
        "Accept-Encoding: gzip\r\n"
        "Cookie: a=1\r\n"
        "Cookie2: $Version=1\r\n"
        "Proxy-Connection: keep-alive\r\n"
        "If-None-Match: \"x\"\r\n"
        "Range: bytes=0-\r\n"
        "If-Range: \"x\"\r\n"
        "If-Modified-Since: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
        "Hostname: other\r\n"
        "Referer: http://h/\r\n"
        "User-Agent: UA\r\n"
        "Vellum-Mode: RecMode\r\n"
        "Vellum-Mode: GetOnly\r\n"
        "Vellum-LocalPath: C:\\x\r\n"
        "Content-Length: 0\r\n"
        "\r\n"
        "X-After: never\r\n");
    auto built = build_server_request(lines, url_of("http://h:8080/x"), false, false);
    ASSERT_TRUE(built);
    EXPECT_EQ(*built, (LineList{"GET /x HTTP/1.0\r\n", "Accept: */*\r\n", "Accept-Charset: utf-8\r\n",
                                "If-Modified-Since: Sun, 06 Nov 1994 08:49:37 GMT\r\n", "Host: h:8080\r\n",
                                "Referer: http://h/\r\n", "User-Agent: UA\r\n", "Content-Length: 0\r\n"}));
    auto crawler = build_server_request(lines, url_of("http://h:8080/x"), false, true);
    ASSERT_TRUE(crawler);
    for (const std::string& line : *crawler) EXPECT_FALSE(header_name_is(line, "if-modified-since")) << line;
}

TEST(BuildServerRequest, NoHostLineIsAdded) {
    auto built = build_server_request(client_lines("GET http://h/ HTTP/1.0\r\nUser-Agent: x\r\n\r\n"),
                                      url_of("http://h/"), false, false);
    EXPECT_EQ(built, (LineList{"GET / HTTP/1.0\r\n", "User-Agent: x\r\n"}));
}

TEST(BuildClientResponseHeader, VersionAndDroppedLines) {
    auto header = build_client_response_header(client_lines(
        "HTTP/1.1 200 OK\r\nETag: \"1\"\r\nAccept-Ranges: bytes\r\nConnection: close\r\nContent-Type: text/html\r\n\r\n"));
    EXPECT_EQ(header, (LineList{"HTTP/1.0 200 OK\r\n", "Content-Type: text/html\r\n", "\r\n"}));
    EXPECT_EQ(build_client_response_header(client_lines("HTTP/1.0 404 Not Found\n\n")),
              (LineList{"HTTP/1.0 404 Not Found\n", "\n"}));
    EXPECT_FALSE(build_client_response_header(client_lines("HTTP/1.0\r\n\r\n")));
}

}  // namespace
}  // namespace vellum
