// Set-Cookie values as servers send them through the proxy. The input's
// first line is the request's host ("-" for none, as for the cookie file's
// lines), every further line one Set-Cookie value of that response.
#include "fuzz/cookie_fuzz_check.h"

namespace vellum::fuzz {
namespace {

// Four groups of one to three digits.
bool is_address(std::string_view host) {
    int count = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= host.size(); ++i) {
        if (i < host.size() && host[i] != '.') {
            if (host[i] < '0' || host[i] > '9') return false;
            continue;
        }
        if (i == start || i - start > 3) return false;
        ++count;
        start = i + 1;
    }
    return count == 4;
}

// A server may set cookies for its own host, for a domain of at least two
// labels above it, and an address only for itself.
void check_domain_allowed(std::string_view domain, std::string_view host) {
    if (domain == host) return;
    std::string_view bare = domain;
    if (bare.starts_with(".")) bare.remove_prefix(1);
    const std::size_t dot = bare.find('.', 1);
    require(bare.size() >= 3 && dot != std::string_view::npos && dot + 1 < bare.size(),
            "no cookie for a top-level domain");
    require(!is_address(host), "an address sets cookies for itself only");
    require(host == bare || host.ends_with("." + std::string(bare)), "no cookie for another site");
}

}  // namespace
}  // namespace vellum::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vellum;
    using namespace vellum::fuzz;
    const std::string input = input_text(data, size);
    const LineList lines = LineList::split(input, true, false);
    if (lines.empty()) return 0;
    const std::string host = lines[0];
    const std::optional<std::string_view> request_host =
        host == "-" ? std::nullopt : std::optional<std::string_view>(host);

    CookieJar jar;
    for (std::size_t i = 1; i < lines.size(); ++i) cookie_jar_store(jar, lines[i], request_host);
    check_jar(jar);
    check_file_round_trip(jar);

    if (request_host) {
        for (const CookieDomain& domain : jar.domains) check_domain_allowed(domain.domain, host);
        if (host.empty()) require(jar.domains.empty(), "a request without a host name stores nothing");
        check_header_value(jar, host, "/");
        for (const CookieDomain& domain : jar.domains) {
            for (const CookiePath& path : domain.paths) check_header_value(jar, host, path.path);
        }
    }
    return 0;
}
