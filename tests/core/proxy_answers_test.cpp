#include "proxy/proxy_answers.h"

#include <gtest/gtest.h>

#include "proxy/tls_failure.h"
#include "tests/support/string_source.h"

namespace vellum {
namespace {

using testing::StringSource;

constexpr char kRequestLine[] = "GET http://h/missing.html HTTP/1.0\r\n";

TEST(ErrorPages, NotFoundNamesTheRequestAndTheStorePath) {
    EXPECT_EQ(not_found_page(kRequestLine, "C:\\save\\h\\missing.html").join(),
              "HTTP/1.0 404 Not Found\r\n"
              "Content-Type: text/html\r\n"
              "\r\n<HTML><HEAD><TITLE>Error</TITLE></HEAD><BODY>"
              "<H1>Not Found</H1>"
              "<PRE>Client request : GET http://h/missing.html HTTP/1.0\r\nLocal filename : C:\\save\\h\\missing.html</PRE>"
              "<HR><ADDRESS>Vellum 1.31b</ADDRESS></BODY></HTML>");
    const LineList without_path = not_found_page(kRequestLine, std::nullopt);
    ASSERT_EQ(without_path.size(), 6u);
    EXPECT_EQ(without_path[4], "<PRE>Client request : GET http://h/missing.html HTTP/1.0\r\n</PRE>");
}

TEST(ErrorPages, NotImplementedAndTheTwoGatewayErrors) {
    EXPECT_EQ(not_implemented_page("HEAD http://h/ HTTP/1.0\r\n").join(),
              "HTTP/1.0 501 Not Implemented\r\n"
              "Content-Type: text/html\r\n"
              "\r\n<HTML><HEAD><TITLE>Error</TITLE></HEAD><BODY>"
              "<H1>Error</H1>"
              "<PRE>Client request : HEAD http://h/ HTTP/1.0\r\n</PRE>"
              "<HR><ADDRESS>Vellum 1.31b</ADDRESS></BODY></HTML>");
    EXPECT_EQ(connect_error_page("proxy.example", 8081).join(),
              "HTTP/1.0 502 Bad Gateway\r\n"
              "Content-Type: text/html\r\n"
              "\r\n<HTML><HEAD><TITLE>Error</TITLE></HEAD><BODY>"
              "<H1>Connect Error</H1>"
              "<PRE>HOST : proxy.example\r\nPORT : 8081</PRE>"
              "<HR><ADDRESS>Vellum 1.31b</ADDRESS></BODY></HTML>");
    EXPECT_EQ(dial_up_error_page().join(),
              "HTTP/1.0 502 Bad Gateway\r\n"
              "Content-Type: text/html\r\n"
              "\r\n<HTML><HEAD><TITLE>Error</TITLE></HEAD><BODY>"
              "<H1>DialUp Error</H1>"
              "<HR><ADDRESS>Vellum 1.31b</ADDRESS></BODY></HTML>");
}

TEST(ErrorPages, TunnelRefusalsNameTheRequest) {
    const std::string line = "CONNECT h:22 HTTP/1.1\r\n";
    const std::string tail = "<PRE>Client request : CONNECT h:22 HTTP/1.1\r\n</PRE><HR><ADDRESS>Vellum 1.31b</ADDRESS></BODY></HTML>";
    const std::string head = "Content-Type: text/html\r\n\r\n<HTML><HEAD><TITLE>Error</TITLE></HEAD><BODY>";
    EXPECT_EQ(bad_request_page(line).join(), "HTTP/1.0 400 Bad Request\r\n" + head + "<H1>Bad Request</H1>" + tail);
    EXPECT_EQ(forbidden_port_page(line).join(), "HTTP/1.0 403 Forbidden\r\n" + head + "<H1>Forbidden</H1>" + tail);
    EXPECT_EQ(offline_tunnel_page(line).join(), "HTTP/1.0 503 Service Unavailable\r\n" + head + "<H1>Offline</H1>" + tail);
}

// Each substituted line comes out of the platform formatter's 1024-byte
// buffer: a long request line cuts the closing tag off, nothing else.
TEST(ErrorPages, ALongSubstitutedLineIsCutAtTheFormattersLimit) {
    const std::string long_line = "GET http://h/" + std::string(3000, 'u') + " HTTP/1.0\r\n";
    const LineList page = not_found_page(long_line, "C:\\save\\h\\x");
    ASSERT_EQ(page.size(), 6u);
    EXPECT_EQ(page[4].size(), 1023u);
    EXPECT_EQ(page[4], ("<PRE>Client request : " + long_line).substr(0, 1023));
    EXPECT_EQ(page[5], "<HR><ADDRESS>Vellum 1.31b</ADDRESS></BODY></HTML>");
    EXPECT_EQ(connect_error_page(std::string(2000, 'h'), 80)[4].size(), 1023u);
}

TEST(ErrorPages, TlsFailuresTellTheBrowserWhyAndTheLogToo) {
    EXPECT_EQ(tls_error_page("192.0.2.2", 8443, tls_failure_reason(TlsFailure::expired)).join(),
              "HTTP/1.0 502 Bad Gateway\r\n"
              "Content-Type: text/html\r\n"
              "\r\n<HTML><HEAD><TITLE>Error</TITLE></HEAD><BODY>"
              "<H1>TLS Error</H1>"
              "<PRE>HOST : 192.0.2.2\r\nPORT : 8443\r\nREASON : expired certificate</PRE>"
              "<HR><ADDRESS>Vellum 1.31b</ADDRESS></BODY></HTML>");
    EXPECT_EQ(tls_failure_reason(TlsFailure::untrusted), "untrusted certificate");
    EXPECT_EQ(tls_failure_reason(TlsFailure::wrong_name), "certificate for another name");
    EXPECT_EQ(tls_failure_reason(TlsFailure::handshake), "handshake failed");
    EXPECT_EQ(tls_failure_log_line(TlsFailure::untrusted, 0), "*** サーバー証明書を信頼できません！ ***\r\n");
    EXPECT_EQ(tls_failure_log_line(TlsFailure::expired, 0), "*** サーバー証明書の有効期限が切れています！ ***\r\n");
    EXPECT_EQ(tls_failure_log_line(TlsFailure::wrong_name, 0), "*** サーバー証明書のホスト名が一致しません！ ***\r\n");
    EXPECT_EQ(tls_failure_log_line(TlsFailure::handshake, 0), "*** TLSハンドシェイクに失敗しました！ ***\r\n");
    EXPECT_EQ(tls_failure_log_line(TlsFailure::handshake, static_cast<long>(0x80090308L)),
              "*** TLSハンドシェイクに失敗しました！(80090308) ***\r\n");
}

std::unique_ptr<ProxyRequest> request_with(const std::string& extra_lines) {
    StringSource source("GET http://h/page.html HTTP/1.0\r\n" + extra_lines + "\r\n");
    int status = 0;
    return parse_request(source, status);
}

std::unique_ptr<ServerResponse> recorded_with(const std::string& extra_lines) {
    StringSource source("HTTP/1.0 200 OK\r\n" + extra_lines + "\r\n");
    int status = 0;
    return parse_response_header(source, status);
}

TEST(ClientCopy, IsCurrentOnlyWhenBothDatesAreValidAndNameTheSameTime) {
    const auto recorded = recorded_with("Last-Modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n");
    ASSERT_TRUE(recorded);
    // The same time written in another of the three date forms still matches.
    for (const char* same : {"If-Modified-Since: Sun, 06 Nov 1994 08:49:37 GMT\r\n",
                             "If-Modified-Since: Sunday, 06-Nov-94 08:49:37 GMT\r\n",
                             "If-Modified-Since: Sun Nov 6 08:49:37 1994\r\n"}) {
        SCOPED_TRACE(same);
        const auto request = request_with(same);
        ASSERT_TRUE(request);
        EXPECT_TRUE(client_copy_is_current(*request, *recorded));
    }
    const auto older = request_with("If-Modified-Since: Sun, 06 Nov 1994 08:49:36 GMT\r\n");
    const auto garbled = request_with("If-Modified-Since: yesterday\r\n");
    const auto none = request_with("");
    EXPECT_FALSE(client_copy_is_current(*older, *recorded));
    EXPECT_FALSE(client_copy_is_current(*garbled, *recorded));
    EXPECT_FALSE(client_copy_is_current(*none, *recorded));

    // A recording without a valid Last-Modified is never the browser's copy,
    // not even of a request whose date is as garbled as its own.
    const auto undated = recorded_with("Last-Modified: yesterday\r\n");
    EXPECT_FALSE(client_copy_is_current(*garbled, *undated));
    EXPECT_FALSE(client_copy_is_current(*request_with("If-Modified-Since: Sun, 06 Nov 1994 08:49:37 GMT\r\n"),
                                        *recorded_with("")));
}

}  // namespace
}  // namespace vellum
