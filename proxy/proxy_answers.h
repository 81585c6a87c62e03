// What the proxy answers by itself instead of passing on a server's answer:
// its error pages, and whether the browser's cached copy of a recorded page
// is still the one recorded.
//
// Each page is the header and the body as the lines handed to
// send_header_to_client, in order. A line with a substituted text is cut at
// 1023 bytes, as the platform formatter (base/format_win.h) cuts every
// formatted line of the program. Pure and portable; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "http/http_message.h"
#include "http/line_list.h"

namespace vellum {

// 501 for a method other than GET and POST while offline. `request_line` is
// the request line as received, line end included.
LineList not_implemented_page(std::string_view request_line);
// 404 for a page neither recorded nor redirected; names the store path of the
// URL when it has one.
LineList not_found_page(std::string_view request_line, const std::optional<std::string>& store_path);
// 502 when no connection to the server or the upstream proxy could be had.
LineList connect_error_page(std::string_view host, int port);
// 502 when an https:// server could not be spoken to safely: the TLS
// handshake failed or its certificate was refused. `reason` is one of
// tls_failure_reason's texts (proxy/tls_failure.h).
LineList tls_error_page(std::string_view host, int port, std::string_view reason);
// 502 when the dial-up connection could not be dialled.
LineList dial_up_error_page();

// A CONNECT the proxy will not tunnel, each naming the request line as
// received: 400 for a target that is not "host:port", 403 for a port the
// tunnel settings do not allow, 503 while offline (nothing leaves the machine).
LineList bad_request_page(std::string_view request_line);
LineList forbidden_port_page(std::string_view request_line);
LineList offline_tunnel_page(std::string_view request_line);
// What the browser gets once its tunnel is open; the bytes that follow are the
// server's.
inline constexpr char kTunnelEstablished[] = "HTTP/1.0 200 Connection established\r\n\r\n";

// The request's If-Modified-Since and the recorded page's Last-Modified are
// both valid and name the same time: the browser's copy is the recorded one.
bool client_copy_is_current(const ProxyRequest& request, const ServerResponse& recorded);

}  // namespace vellum
