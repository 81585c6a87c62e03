// The three text forms of a parsed URL used by the request builders, the
// crawler and the request tree. Pure functions; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "http/http_message.h"

namespace vellum {

// host[":" port]; none without a host.
std::optional<std::string> url_host_port(const ParsedUrl& url);
// path["?" query]; none without a path.
std::optional<std::string> url_path_query(const ParsedUrl& url);
// scheme "://" host[:port] path[?query] for "http" and "https"; scheme ":"
// opaque otherwise;
// the fragment is never included.
std::optional<std::string> url_text(const ParsedUrl& url);

// The host under which the credential store keeps a server's entries: the
// Host header's form `host_port` (host[:port]) for http, with "https://"
// before it for https, so that a host's two schemes keep their own
// credentials. A Host value never holds "://", so the forms never meet.
std::string credential_host(const ParsedUrl& url, std::string_view host_port);

}  // namespace vellum
