#include "cookies/cookie_jar.h"

#include <algorithm>

#include "cookies/text_file.h"
#include "http/http_date.h"

namespace vellum {
namespace {

struct SetCookieFields {
    std::optional<std::string_view> name;
    std::string_view value;
    std::optional<std::string_view> domain;
    std::optional<std::string_view> path;
    std::optional<std::string_view> expires;
    bool secure = false;
};

std::string_view skip_spaces(std::string_view text) {
    const std::size_t first = text.find_first_not_of(' ');
    return first == std::string_view::npos ? std::string_view() : text.substr(first);
}

// Attribute values are taken as they stand: no quotes are removed and spaces
// before a ";" stay, so the file's lines give back exactly what was received.
SetCookieFields parse_set_cookie(std::string_view text) {
    SetCookieFields fields;
    std::size_t start = 0;
    while (true) {
        const std::size_t semicolon = text.find(';', start);
        const std::string_view attribute =
            skip_spaces(text.substr(start, semicolon == std::string_view::npos ? std::string_view::npos
                                                                                : semicolon - start));
        if (header_name_is(attribute, "domain=")) {
            fields.domain = attribute.substr(7);
        } else if (header_name_is(attribute, "path=")) {
            fields.path = attribute.substr(5);
        } else if (header_name_is(attribute, "expires=")) {
            fields.expires = attribute.substr(8);
        } else if (attribute.size() == 6 && header_name_is(attribute, "secure")) {
            fields.secure = true;
        } else if (const std::size_t equals = attribute.find('='); equals != std::string_view::npos) {
            // Unknown attributes with a value (Max-Age, Version) fall here too;
            // the last one wins.
            fields.name = attribute.substr(0, equals);
            fields.value = attribute.substr(equals + 1);
        }
        if (semicolon == std::string_view::npos) break;
        start = semicolon + 1;
    }
    return fields;
}

bool is_dotted_ipv4(std::string_view host) {
    int groups = 0;
    std::size_t start = 0;
    while (true) {
        const std::size_t dot = host.find('.', start);
        const std::string_view group = host.substr(start, dot == std::string_view::npos ? host.npos : dot - start);
        if (group.empty() || group.size() > 3 ||
            !std::all_of(group.begin(), group.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            return false;
        }
        ++groups;
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    return groups == 4;
}

// A domain attribute a server at `host` may set: its own host or a domain
// above it, never a bare top-level domain ("com", ".jp", "com.") nor another
// site's domain. The leading dot is the old way of saying "and every host
// under it", so example.test may set ".example.test".
bool domain_attribute_allowed(std::string_view domain, std::string_view host) {
    std::string_view bare = domain;
    if (!bare.empty() && bare.front() == '.') bare.remove_prefix(1);
    // "..example.test" names no host: an empty label is never a domain.
    if (!bare.empty() && bare.front() == '.') return false;
    const std::size_t inner_dot = bare.size() < 3 ? std::string_view::npos : bare.find('.', 1);
    if (inner_dot == std::string_view::npos || inner_dot + 1 >= bare.size()) return false;
    // 10.0.0.1 ends in ".0.1" like any other name, yet shares nothing with it.
    if (is_dotted_ipv4(host)) return domain == host;
    return cookie_domain_matches(bare, host);
}

template <typename Entry, typename Key>
Entry& find_or_append(std::vector<Entry>& entries, std::string Entry::*key, Key wanted) {
    for (Entry& entry : entries) {
        if (entry.*key == wanted) return entry;
    }
    Entry& added = entries.emplace_back();
    added.*key = std::string(wanted);
    return added;
}

bool is_expired(const Cookie& cookie, FileTime now) {
    return cookie.has_expiry && cookie.expiry <= now;
}

bool holds_secure_cookie(const CookieJar& jar, std::string_view domain, std::string_view path, std::string_view name) {
    for (const CookieDomain& d : jar.domains) {
        if (d.domain != domain) continue;
        for (const CookiePath& p : d.paths) {
            if (p.path != path) continue;
            for (const Cookie& c : p.cookies) {
                if (c.name == name) return c.secure;
            }
        }
    }
    return false;
}

}  // namespace

bool cookie_domain_matches(std::string_view domain, std::string_view host) {
    if (domain.size() > host.size() || !host.ends_with(domain)) return false;
    if (domain.size() == host.size()) return true;
    if (!domain.empty() && domain.front() == '.') return true;
    return host[host.size() - domain.size() - 1] == '.';
}

bool cookie_jar_store(CookieJar& jar, std::string_view set_cookie, std::optional<std::string_view> request_host,
                      bool over_https) {
    const std::string_view text = text_before_zero(set_cookie);
    // A line end inside a value would split its line of the cookie file; the
    // header parser never delivers one.
    if (text.find('\n') != std::string_view::npos) return false;
    const SetCookieFields fields = parse_set_cookie(text);
    if (!fields.name) return false;
    // Only an answer that came over TLS may set a cookie that is to travel
    // only over TLS; a line of the cookie file (no host) keeps its flag.
    if (request_host && fields.secure && !over_https) return false;

    std::string_view domain;
    if (fields.domain) {
        if (request_host && !domain_attribute_allowed(*fields.domain, *request_host)) return false;
        domain = *fields.domain;
    } else {
        // The domain is written back as a Set-Cookie attribute; a "host"
        // with a ";" in it would turn into other attributes on reload.
        if (!request_host || request_host->empty() ||
            request_host->find_first_of(std::string_view(";\n\0", 3)) != std::string_view::npos) {
            return false;
        }
        domain = *request_host;
    }
    const std::string_view path = fields.path.value_or("/");

    // Nor may a plain answer overwrite a cookie that was set over TLS.
    if (request_host && !over_https && holds_secure_cookie(jar, domain, path, *fields.name)) return false;
    CookieDomain& domain_entry = find_or_append(jar.domains, &CookieDomain::domain, domain);
    CookiePath& path_entry = find_or_append(domain_entry.paths, &CookiePath::path, path);
    Cookie& cookie = find_or_append(path_entry.cookies, &Cookie::name, *fields.name);
    cookie.value = std::string(fields.value);
    cookie.expires_text.reset();
    cookie.has_expiry = false;
    cookie.expiry = 0;
    if (fields.expires) {
        cookie.expires_text = std::string(*fields.expires);
        FileTime expiry = 0;
        if (parse_http_date(*fields.expires, expiry)) {
            cookie.has_expiry = true;
            cookie.expiry = expiry;
        }
    }
    cookie.secure = fields.secure;
    return true;
}

std::optional<std::string> cookie_jar_header_value(const CookieJar& jar, const ParsedUrl& url, FileTime now) {
    if (!url.host) return std::nullopt;
    const bool over_https = is_https(url);
    const std::string_view path = url.path ? std::string_view(*url.path) : std::string_view();
    std::string value;
    bool any = false;
    for (const CookieDomain& domain : jar.domains) {
        if (!cookie_domain_matches(domain.domain, *url.host)) continue;
        for (const CookiePath& path_entry : domain.paths) {
            if (!path.starts_with(path_entry.path)) continue;
            for (const Cookie& cookie : path_entry.cookies) {
                if (is_expired(cookie, now)) continue;
                if (cookie.secure && !over_https) continue;
                if (any) value += "; ";
                value += cookie.name;
                value += '=';
                value += cookie.value;
                any = true;
            }
        }
    }
    if (!any) return std::nullopt;
    return value;
}

void cookie_jar_discard_stale(CookieJar& jar, FileTime now) {
    for (CookieDomain& domain : jar.domains) {
        for (CookiePath& path : domain.paths) {
            std::erase_if(path.cookies, [now](const Cookie& c) { return !c.has_expiry || c.expiry <= now; });
        }
    }
}

std::string cookie_jar_file_text(const CookieJar& jar, FileTime now) {
    std::string text;
    for (const CookieDomain& domain : jar.domains) {
        for (const CookiePath& path : domain.paths) {
            for (const Cookie& cookie : path.cookies) {
                if (is_expired(cookie, now)) continue;
                text += cookie.name;
                text += '=';
                text += cookie.value;
                text += "; domain=";
                text += domain.domain;
                text += "; path=";
                text += path.path;
                if (cookie.expires_text) {
                    text += "; expires=";
                    text += *cookie.expires_text;
                }
                if (cookie.secure) text += "; secure";
                text += "\r\n";
            }
        }
    }
    return text;
}

void cookie_jar_load_text(CookieJar& jar, std::string_view file_bytes) {
    jar.domains.clear();
    std::size_t offset = 0;
    while (std::optional<std::string_view> line = read_text_line(file_bytes, offset)) {
        cookie_jar_store(jar, *line, std::nullopt);
    }
}

std::vector<CookieEntry> cookie_jar_entries(const CookieJar& jar) {
    std::vector<CookieEntry> entries;
    for (const CookieDomain& domain : jar.domains) {
        for (const CookiePath& path : domain.paths) {
            for (const Cookie& cookie : path.cookies) entries.push_back({domain.domain, path.path, cookie});
        }
    }
    return entries;
}

}  // namespace vellum
