// The cookie jar: the cookies servers set through the proxy, which the proxy
// sends back itself (the browser's own Cookie lines never reach a server).
//
// Three levels, each kept in insertion order: domains, their paths, their
// cookies; one cookie per (domain, path, name), all compared byte for byte.
// The jar file holds one cookie per line, each line itself a Set-Cookie
// value; cookies/cookie_files_win.h reads and writes it beside the program.
//
// Thread: the program's one jar is kept by cookies/cookies_win.h, which holds
// its lock around every use. Times are passed in (base/clock.h's current_time_utc), so
// every function here is pure. Results are owned by the caller; references
// into the jar last until its next change.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.h"
#include "http/http_message.h"

namespace vellum {

struct Cookie {
    std::string name;
    std::string value;
    std::optional<std::string> expires_text;  // after "expires=", exactly as received
    bool secure = false;                      // sent only to https:// URLs
    bool has_expiry = false;                  // the expires text was a valid HTTP date
    FileTime expiry = 0;                      // UTC; meaningful only with has_expiry

    bool operator==(const Cookie&) const = default;
};

struct CookiePath {
    std::string path;
    std::vector<Cookie> cookies;
};

struct CookieDomain {
    std::string domain;  // as the cookie gave it, or the request's host name
    std::vector<CookiePath> paths;
};

// Domain and path entries stay when their last cookie goes (discarding stale
// cookies empties them but keeps them), so the jar's order is stable.
struct CookieJar {
    std::vector<CookieDomain> domains;
};

// Parses one Set-Cookie value and adds or replaces its cookie; true when a
// cookie was stored. `request_host` is the request URL's host without port;
// none for a line of the cookie file, which carries its own domain and is
// taken as it stands. With a request host, a domain attribute must match that
// host (cookie_domain_matches, the attribute's leading dot aside) and hold a
// dot between two labels, or the cookie is refused: one site can't set
// cookies for another, nor for a whole top-level domain. A dotted IPv4 host
// accepts only its own address as a domain. Without a domain attribute the
// domain is the request host; an empty host, or one holding ";", stores
// nothing. The value ends at its first zero byte. With a request host, a
// cookie with the Secure attribute is stored only from an answer that came
// over https (`over_https`), and an answer over http can't replace a secure
// cookie of the same domain, path and name.
bool cookie_jar_store(CookieJar& jar, std::string_view set_cookie, std::optional<std::string_view> request_host,
                      bool over_https = false);

// Whether cookies of `domain` go to `host`: the host is the domain itself or
// ends in "." and the domain; a domain that begins with "." matches the hosts
// that end in it, but not the host without the dot. A host that merely ends
// in the domain's letters ("notexample.test" for "example.test") does not
// match.
bool cookie_domain_matches(std::string_view domain, std::string_view host);

// "name=value" of every cookie for `url` (its host without port and its
// path), joined by "; " in jar order; none when no cookie matches. A cookie
// whose expiry is not later than `now` is left out, and so is a secure
// cookie unless `url` is an https:// URL.
std::optional<std::string> cookie_jar_header_value(const CookieJar& jar, const ParsedUrl& url, FileTime now);

// Removes every cookie without an expiry and every cookie whose expiry is not
// later than `now`.
void cookie_jar_discard_stale(CookieJar& jar, FileTime now);

// The cookie file for the jar: one line per cookie that has not expired by
// `now`, each ending in "\r\n": name=value; domain=D; path=P[; expires=E][; secure].
std::string cookie_jar_file_text(const CookieJar& jar, FileTime now);

// Empties the jar and stores each complete line of a cookie file's bytes
// (cookies/text_file.h) with no request host.
void cookie_jar_load_text(CookieJar& jar, std::string_view file_bytes);

// Every cookie with its domain and path, in jar order.
struct CookieEntry {
    std::string domain;
    std::string path;
    Cookie cookie;

    bool operator==(const CookieEntry&) const = default;
};
std::vector<CookieEntry> cookie_jar_entries(const CookieJar& jar);

}  // namespace vellum
