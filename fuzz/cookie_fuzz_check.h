// What the cookie jar's fuzz targets share: the jar's own invariants and the
// round trip through the cookie file.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cookies/cookie_jar.h"
#include "fuzz/fuzz_check.h"

namespace vellum::fuzz {

// Sun, 06 Nov 2005 08:49:37 GMT: dates on either side of it are easy to write.
inline constexpr FileTime kFuzzNow = 127757405770000000;

inline void check_jar(const CookieJar& jar) {
    const std::vector<CookieEntry> entries = cookie_jar_entries(jar);
    for (std::size_t i = 0; i < jar.domains.size(); ++i) {
        for (std::size_t j = i + 1; j < jar.domains.size(); ++j) {
            require(jar.domains[i].domain != jar.domains[j].domain, "one entry per domain");
        }
        const std::vector<CookiePath>& paths = jar.domains[i].paths;
        for (std::size_t p = 0; p < paths.size(); ++p) {
            for (std::size_t q = p + 1; q < paths.size(); ++q) {
                require(paths[p].path != paths[q].path, "one entry per path of a domain");
            }
            const std::vector<Cookie>& cookies = paths[p].cookies;
            for (std::size_t c = 0; c < cookies.size(); ++c) {
                for (std::size_t d = c + 1; d < cookies.size(); ++d) {
                    require(cookies[c].name != cookies[d].name, "one cookie per name of a path");
                }
            }
        }
    }
    for (const CookieEntry& entry : entries) {
        const Cookie& cookie = entry.cookie;
        require(cookie.name.find_first_of(";=") == std::string::npos, "a name holds no ; or =");
        require(cookie.value.find(';') == std::string::npos, "a value holds no ;");
        for (const std::string* text : {&entry.domain, &entry.path, &cookie.name, &cookie.value}) {
            require(text->find_first_of(std::string_view("\n\0", 2)) == std::string::npos,
                    "no line end or zero byte in a stored text");
        }
        require(!cookie.has_expiry || cookie.expires_text, "an expiry comes from an expires text");
    }
}

// The Cookie value for a request to host and path, against the rule said
// another way: a host takes the cookies of its own name and of every domain
// it lies under at a dot; a leading-dot domain only those under it; a secure
// cookie goes only over https. Asked for both schemes.
inline void check_header_value(const CookieJar& jar, const std::string& host, const std::string& path) {
    for (const bool over_https : {false, true}) {
        std::string expected;
        bool any = false;
        for (const CookieEntry& entry : cookie_jar_entries(jar)) {
            const std::string& domain = entry.domain;
            const bool under = (domain.starts_with(".") ? host.ends_with(domain) : host.ends_with("." + domain));
            if (host != domain && !under) continue;
            if (!path.starts_with(entry.path)) continue;
            if (entry.cookie.has_expiry && entry.cookie.expiry <= kFuzzNow) continue;
            if (entry.cookie.secure && !over_https) continue;
            expected += (any ? "; " : "") + entry.cookie.name + "=" + entry.cookie.value;
            any = true;
        }
        ParsedUrl url;
        url.scheme = over_https ? "https" : "http";
        url.host = host;
        url.path = path;
        const std::optional<std::string> value = cookie_jar_header_value(jar, url, kFuzzNow);
        require(value.has_value() == any && value.value_or("") == expected,
                "the Cookie value holds exactly the matching cookies in jar order");
    }
}

// The file written for the jar reloads into the same cookies (those that had
// not expired) in the same order, and is written again byte for byte.
inline void check_file_round_trip(const CookieJar& jar) {
    const std::string text = cookie_jar_file_text(jar, kFuzzNow);
    CookieJar reloaded;
    cookie_jar_load_text(reloaded, text);
    std::vector<CookieEntry> expected = cookie_jar_entries(jar);
    std::erase_if(expected, [](const CookieEntry& e) { return e.cookie.has_expiry && e.cookie.expiry <= kFuzzNow; });
    require(cookie_jar_entries(reloaded) == expected, "a saved jar reloads into the same jar");
    require(cookie_jar_file_text(reloaded, kFuzzNow) == text, "a reloaded jar saves the same bytes");
}

}  // namespace vellum::fuzz
