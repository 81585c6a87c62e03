#include "http/url_text.h"

namespace vellum {

std::optional<std::string> url_host_port(const ParsedUrl& url) {
    if (!url.host) return std::nullopt;
    std::string text = *url.host;
    if (url.port) {
        text += ':';
        text += *url.port;
    }
    return text;
}

std::optional<std::string> url_path_query(const ParsedUrl& url) {
    if (!url.path) return std::nullopt;
    std::string text = *url.path;
    if (url.query) {
        text += '?';
        text += *url.query;
    }
    return text;
}

std::optional<std::string> url_text(const ParsedUrl& url) {
    if (!url.scheme) return std::nullopt;
    if (is_web_scheme(*url.scheme)) {
        auto host = url_host_port(url);
        auto path = url_path_query(url);
        if (!host || !path) return std::nullopt;
        return *url.scheme + "://" + *host + *path;
    }
    if (!url.opaque) return std::nullopt;
    return *url.scheme + ":" + *url.opaque;
}

std::string credential_host(const ParsedUrl& url, std::string_view host_port) {
    std::string host = is_https(url) ? "https://" : "";
    host += host_port;
    return host;
}

}  // namespace vellum
