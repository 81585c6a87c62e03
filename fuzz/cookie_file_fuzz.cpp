// The cookie file beside the program, as a crash, an editor or another
// version may have left it: every line goes through the Set-Cookie parser
// with no request host.
#include "fuzz/cookie_fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vellum;
    using namespace vellum::fuzz;
    const std::string input = input_text(data, size);

    CookieJar jar;
    cookie_jar_load_text(jar, input);
    check_jar(jar);
    check_file_round_trip(jar);

    // Each stored domain as a host, with the first stored path.
    for (const CookieDomain& domain : jar.domains) {
        const std::string path = domain.paths.empty() ? "/" : domain.paths.front().path;
        check_header_value(jar, domain.domain, path);
        check_header_value(jar, "x" + domain.domain, path);
    }

    cookie_jar_discard_stale(jar, kFuzzNow);
    for (const CookieEntry& entry : cookie_jar_entries(jar)) {
        require(entry.cookie.has_expiry && entry.cookie.expiry > kFuzzNow, "only unexpired dated cookies stay");
    }
    check_file_round_trip(jar);
    return 0;
}
