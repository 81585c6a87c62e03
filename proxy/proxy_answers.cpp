#include "proxy/proxy_answers.h"

#include "base/program_title.h"

namespace vellum {
namespace {

// The platform formatter's 1024-byte buffer, its terminating zero included.
constexpr std::size_t kFormattedLineLimit = 1023;

std::string cut(std::string line) {
    if (line.size() > kFormattedLineLimit) line.resize(kFormattedLineLimit);
    return line;
}

// Every error page: status line, type, the opening of the body, a heading,
// what the page has to say, and the program's signature.
LineList error_page(std::string_view status_line, std::string_view heading, std::optional<std::string> detail) {
    LineList page;
    page.append(std::string(status_line));
    page.append("Content-Type: text/html\r\n");
    page.append("\r\n<HTML><HEAD><TITLE>Error</TITLE></HEAD><BODY>");
    page.append("<H1>" + std::string(heading) + "</H1>");
    if (detail) page.append(cut(std::move(*detail)));
    page.append(cut(std::string("<HR><ADDRESS>") + kProgramTitle + "</ADDRESS></BODY></HTML>"));
    return page;
}

}  // namespace

LineList not_implemented_page(std::string_view request_line) {
    return error_page("HTTP/1.0 501 Not Implemented\r\n", "Error",
                      "<PRE>Client request : " + std::string(request_line) + "</PRE>");
}

LineList not_found_page(std::string_view request_line, const std::optional<std::string>& store_path) {
    std::string detail = "<PRE>Client request : " + std::string(request_line);
    if (store_path) detail += "Local filename : " + *store_path;
    return error_page("HTTP/1.0 404 Not Found\r\n", "Not Found", detail + "</PRE>");
}

LineList connect_error_page(std::string_view host, int port) {
    return error_page("HTTP/1.0 502 Bad Gateway\r\n", "Connect Error",
                      "<PRE>HOST : " + std::string(host) + "\r\nPORT : " + std::to_string(port) + "</PRE>");
}

LineList tls_error_page(std::string_view host, int port, std::string_view reason) {
    return error_page("HTTP/1.0 502 Bad Gateway\r\n", "TLS Error",
                      "<PRE>HOST : " + std::string(host) + "\r\nPORT : " + std::to_string(port) +
                          "\r\nREASON : " + std::string(reason) + "</PRE>");
}

LineList dial_up_error_page() {
    return error_page("HTTP/1.0 502 Bad Gateway\r\n", "DialUp Error", std::nullopt);
}

LineList bad_request_page(std::string_view request_line) {
    return error_page("HTTP/1.0 400 Bad Request\r\n", "Bad Request",
                      "<PRE>Client request : " + std::string(request_line) + "</PRE>");
}

LineList forbidden_port_page(std::string_view request_line) {
    return error_page("HTTP/1.0 403 Forbidden\r\n", "Forbidden",
                      "<PRE>Client request : " + std::string(request_line) + "</PRE>");
}

LineList offline_tunnel_page(std::string_view request_line) {
    return error_page("HTTP/1.0 503 Service Unavailable\r\n", "Offline",
                      "<PRE>Client request : " + std::string(request_line) + "</PRE>");
}

bool client_copy_is_current(const ProxyRequest& request, const ServerResponse& recorded) {
    return request.if_modified_since_valid && recorded.last_modified_valid &&
           request.if_modified_since_time == recorded.last_modified_time;
}

}  // namespace vellum
