// The three text forms of a parsed URL used by the request builders, the
// crawler and the request tree. Pure functions; any thread.
#pragma once

#include <optional>
#include <string>

#include "http/http_message.h"

namespace vellum {

// host[":" port]; none without a host.
std::optional<std::string> url_host_port(const ParsedUrl& url);
// path["?" query]; none without a path.
std::optional<std::string> url_path_query(const ParsedUrl& url);
// "http://" host[:port] path[?query] for "http"; scheme ":" opaque otherwise;
// the fragment is never included.
std::optional<std::string> url_text(const ParsedUrl& url);

}  // namespace vellum
