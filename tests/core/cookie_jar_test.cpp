#include "cookies/cookie_jar.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cookies/text_file.h"
#include "http/http_date.h"

namespace vellum {
namespace {

FileTime at(const char* http_date) {
    FileTime time = 0;
    EXPECT_TRUE(parse_http_date(http_date, time)) << http_date;
    return time;
}

// Sun, 06 Nov 2005 08:49:37 GMT
constexpr FileTime kNow = 127757405770000000;

ParsedUrl url(const char* text) {
    std::optional<ParsedUrl> parsed = parse_url(text);
    EXPECT_TRUE(parsed) << text;
    return parsed.value_or(ParsedUrl{});
}

std::string sent(const CookieJar& jar, const char* url_text, FileTime now = kNow) {
    return cookie_jar_header_value(jar, url(url_text), now).value_or("<none>");
}

// The answers came over https, so that Secure cookies are taken too.
CookieJar jar_with(std::initializer_list<std::pair<const char*, const char*>> set_cookies) {
    CookieJar jar;
    for (const auto& [host, value] : set_cookies) EXPECT_TRUE(cookie_jar_store(jar, value, host, true)) << value;
    return jar;
}

TEST(CookieExpiry, TheTestClockIsTheDateItNames) {
    EXPECT_EQ(at("Sun, 06 Nov 2005 08:49:37 GMT"), kNow);
}

TEST(CookieParse, LeadingDotDomainGoesToEveryHostUnderIt) {
    CookieJar jar = jar_with({{"www.example.test", "a=1; domain=.example.test"}});
    ASSERT_EQ(jar.domains.size(), 1u);
    EXPECT_EQ(jar.domains[0].domain, ".example.test");
    ASSERT_EQ(jar.domains[0].paths.size(), 1u);
    EXPECT_EQ(jar.domains[0].paths[0].path, "/");
    EXPECT_EQ(sent(jar, "http://www.example.test/"), "a=1");
    EXPECT_EQ(sent(jar, "http://img.example.test:8080/x/y.gif?q"), "a=1");
    EXPECT_EQ(sent(jar, "http://example.test/"), "<none>");
}

TEST(CookieParse, LastUnnamedAttributeWithAnEqualsSignNamesTheCookie) {
    CookieJar jar = jar_with({{"h.test", "a=1; Max-Age=60; path=/"}});
    std::vector<CookieEntry> entries = cookie_jar_entries(jar);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].cookie.name, "Max-Age");
    EXPECT_EQ(entries[0].cookie.value, "60");
    EXPECT_EQ(entries[0].path, "/");
    EXPECT_EQ(entries[0].domain, "h.test");
}

TEST(CookieParse, StoringAgainReplacesInPlace) {
    CookieJar jar = jar_with({{"h.test", "a=1; expires=Mon, 07 Nov 2005 00:00:00 GMT; secure"},
                              {"h.test", "b=1"},
                              {"h.test", "a=2"}});
    EXPECT_EQ(sent(jar, "http://h.test/"), "a=2; b=1");
    const Cookie& a = jar.domains[0].paths[0].cookies[0];
    EXPECT_FALSE(a.expires_text);
    EXPECT_FALSE(a.has_expiry);
    EXPECT_FALSE(a.secure);
}

TEST(CookieParse, ValuesAreTakenAsTheyStand) {
    CookieJar jar = jar_with({{"h.test", "  n=\"x y\" ;   path=/p ; DOMAIN=h.test;Expires=soon "}});
    std::vector<CookieEntry> entries = cookie_jar_entries(jar);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].cookie.name, "n");
    EXPECT_EQ(entries[0].cookie.value, "\"x y\" ");
    EXPECT_EQ(entries[0].path, "/p ");
    EXPECT_EQ(entries[0].cookie.expires_text, "soon ");
    EXPECT_FALSE(entries[0].cookie.has_expiry);
}

TEST(CookieParse, SecureOnlyWhenExactlyTheWord) {
    CookieJar jar;
    ASSERT_TRUE(cookie_jar_store(jar, "a=1; SeCuRe", "h.test", true));
    ASSERT_TRUE(cookie_jar_store(jar, "b=1; secure ", "h.test", true));
    ASSERT_TRUE(cookie_jar_store(jar, "c=1; secure=yes", "h.test", true));
    std::vector<CookieEntry> entries = cookie_jar_entries(jar);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_TRUE(entries[0].cookie.secure);
    EXPECT_FALSE(entries[1].cookie.secure);
    // "secure=yes" is a value attribute, and the last one names the cookie.
    EXPECT_EQ(entries[2].cookie.name, "secure");
    EXPECT_FALSE(entries[2].cookie.secure);
    EXPECT_EQ(sent(jar, "https://h.test/"), "a=1; b=1; secure=yes");
    EXPECT_EQ(sent(jar, "http://h.test/"), "b=1; secure=yes");
}

TEST(CookieSecure, OnlyAnHttpsAnswerSetsASecureCookie) {
    CookieJar jar;
    EXPECT_FALSE(cookie_jar_store(jar, "sid=1; secure", "h.test", false));
    EXPECT_TRUE(jar.domains.empty());
    EXPECT_TRUE(cookie_jar_store(jar, "sid=1; secure", "h.test", true));
    EXPECT_TRUE(cookie_jar_store(jar, "lang=ja", "h.test", false));
    EXPECT_EQ(sent(jar, "https://h.test/"), "sid=1; lang=ja");
    EXPECT_EQ(sent(jar, "http://h.test/"), "lang=ja");
    EXPECT_EQ(sent(jar, "https://h.test:8443/a"), "sid=1; lang=ja");
}

TEST(CookieSecure, APlainAnswerCannotReplaceASecureCookie) {
    CookieJar jar;
    ASSERT_TRUE(cookie_jar_store(jar, "sid=1; secure", "h.test", true));
    EXPECT_FALSE(cookie_jar_store(jar, "sid=evil", "h.test", false));
    EXPECT_EQ(sent(jar, "https://h.test/"), "sid=1");
    EXPECT_EQ(sent(jar, "http://h.test/"), "<none>");
    // Over https it may, and without the flag it then goes both ways.
    EXPECT_TRUE(cookie_jar_store(jar, "sid=2", "h.test", true));
    EXPECT_EQ(sent(jar, "http://h.test/"), "sid=2");
    // Another path is another cookie.
    EXPECT_TRUE(cookie_jar_store(jar, "sid=3; secure; path=/s", "h.test", true));
    EXPECT_TRUE(cookie_jar_store(jar, "sid=4", "h.test", false));
    EXPECT_EQ(sent(jar, "https://h.test/s"), "sid=4; sid=3");
}

TEST(CookieSecure, TheFileKeepsTheFlagAndItsEffect) {
    CookieJar jar;
    cookie_jar_load_text(jar, "sid=1; domain=h.test; path=/; secure\r\nlang=ja; domain=h.test; path=/\r\n");
    EXPECT_EQ(sent(jar, "https://h.test/"), "sid=1; lang=ja");
    EXPECT_EQ(sent(jar, "http://h.test/"), "lang=ja");
}

TEST(CookieParse, NothingStoredWithoutANameOrADomain) {
    CookieJar jar;
    EXPECT_FALSE(cookie_jar_store(jar, "; path=/; secure", "h.test"));
    EXPECT_FALSE(cookie_jar_store(jar, "novalue", "h.test"));
    EXPECT_FALSE(cookie_jar_store(jar, "a=1; path=/", std::nullopt));
    EXPECT_FALSE(cookie_jar_store(jar, "a=1", ""));
    // Only a host name that can stand as a domain attribute in the file.
    EXPECT_FALSE(cookie_jar_store(jar, "a=1", "h.test; domain=other.test"));
    EXPECT_FALSE(cookie_jar_store(jar, "a=1", std::string_view("h.test\0x", 8)));
    EXPECT_TRUE(jar.domains.empty());
}

TEST(CookieParse, TextEndsAtItsFirstZeroByte) {
    CookieJar jar;
    ASSERT_TRUE(cookie_jar_store(jar, std::string("a=1\0; path=/x", 14), "h.test"));
    EXPECT_EQ(jar.domains[0].paths[0].path, "/");
    EXPECT_EQ(jar.domains[0].paths[0].cookies[0].value, "1");
}

TEST(CookieParse, PortIsNotPartOfTheDefaultDomain) {
    // The proxy hands the URL's host, which never carries the port.
    const ParsedUrl request = url("http://h.test:8080/a");
    CookieJar jar;
    ASSERT_TRUE(cookie_jar_store(jar, "a=1", *request.host));
    EXPECT_EQ(jar.domains[0].domain, "h.test");
    EXPECT_EQ(sent(jar, "http://h.test/"), "a=1");
    EXPECT_EQ(sent(jar, "http://h.test:8080/"), "a=1");
}

TEST(CookieDomains, MatchAtALabelBoundaryOnly) {
    EXPECT_TRUE(cookie_domain_matches("example.test", "example.test"));
    EXPECT_TRUE(cookie_domain_matches("example.test", "www.example.test"));
    EXPECT_TRUE(cookie_domain_matches("example.test", "a.b.example.test"));
    EXPECT_FALSE(cookie_domain_matches("example.test", "notexample.test"));
    EXPECT_FALSE(cookie_domain_matches("example.test", "example.test.evil"));
    EXPECT_FALSE(cookie_domain_matches("www.example.test", "example.test"));
    EXPECT_TRUE(cookie_domain_matches(".example.test", "www.example.test"));
    EXPECT_FALSE(cookie_domain_matches(".example.test", "example.test"));
    EXPECT_FALSE(cookie_domain_matches(".example.test", "wwwexample.test"));
    EXPECT_FALSE(cookie_domain_matches("Example.test", "example.test"));
}

TEST(CookieDomains, CookiesOfOneSiteAreNotSentToAnotherThatEndsInItsLetters) {
    CookieJar jar = jar_with({{"notexample.test", "n=1"}, {"example.test", "e=1"}});
    EXPECT_EQ(sent(jar, "http://example.test/"), "e=1");
    EXPECT_EQ(sent(jar, "http://notexample.test/"), "n=1");
    EXPECT_EQ(sent(jar, "http://www.example.test/"), "e=1");
    EXPECT_EQ(sent(jar, "http://www.notexample.test/"), "n=1");
}

TEST(CookieDomains, ASiteCannotSetCookiesForAnother) {
    CookieJar jar;
    EXPECT_FALSE(cookie_jar_store(jar, "a=1; domain=example.test", "notexample.test"));
    EXPECT_FALSE(cookie_jar_store(jar, "a=1; domain=.example.test", "evil.test"));
    EXPECT_FALSE(cookie_jar_store(jar, "a=1; domain=www.example.test", "example.test"));
    EXPECT_FALSE(cookie_jar_store(jar, "a=1; domain=example.test", "example.test.evil"));
    EXPECT_TRUE(jar.domains.empty());
    EXPECT_EQ(sent(jar, "http://example.test/"), "<none>");

    EXPECT_TRUE(cookie_jar_store(jar, "a=1; domain=example.test", "www.example.test"));
    EXPECT_TRUE(cookie_jar_store(jar, "b=1; domain=.example.test", "example.test"));
    EXPECT_TRUE(cookie_jar_store(jar, "c=1; domain=www.example.test", "www.example.test"));
    EXPECT_EQ(sent(jar, "http://www.example.test/"), "a=1; b=1; c=1");
}

TEST(CookieDomains, NoCookieForAWholeTopLevelDomain) {
    CookieJar jar;
    for (const char* value : {"a=1; domain=.test", "a=1; domain=test", "a=1; domain=test.", "a=1; domain=.test.",
                              "a=1; domain=", "a=1; domain=."}) {
        EXPECT_FALSE(cookie_jar_store(jar, value, "www.example.test")) << value;
    }
    // A host of a single label keeps its own cookies, without a domain attribute.
    EXPECT_FALSE(cookie_jar_store(jar, "a=1; domain=localhost", "localhost"));
    EXPECT_TRUE(cookie_jar_store(jar, "a=1", "localhost"));
    EXPECT_EQ(sent(jar, "http://localhost/"), "a=1");
    EXPECT_EQ(sent(jar, "http://www.example.test/"), "<none>");
}

TEST(CookieDomains, ADomainWithAnEmptyLabelIsRefused) {
    // Found by the set_cookie fuzz target: stored, such a cookie went to no host.
    CookieJar jar;
    EXPECT_FALSE(cookie_jar_store(jar, "a=1; domain=..example.test", "www.example.test"));
    EXPECT_TRUE(jar.domains.empty());
}

TEST(CookieDomains, AnAddressSetsCookiesForItselfOnly) {
    CookieJar jar;
    EXPECT_FALSE(cookie_jar_store(jar, "a=1; domain=0.1", "192.168.0.1"));
    EXPECT_FALSE(cookie_jar_store(jar, "a=1; domain=168.0.1", "192.168.0.1"));
    EXPECT_FALSE(cookie_jar_store(jar, "a=1; domain=.192.168.0.1", "192.168.0.1"));
    EXPECT_TRUE(cookie_jar_store(jar, "a=1; domain=192.168.0.1", "192.168.0.1"));
    EXPECT_TRUE(cookie_jar_store(jar, "b=1", "192.168.0.1"));
    EXPECT_EQ(sent(jar, "http://192.168.0.1/"), "a=1; b=1");
    EXPECT_EQ(sent(jar, "http://10.168.0.1/"), "<none>");
}

TEST(CookieDomains, FileLinesAreTakenAsTheyStand) {
    CookieJar jar;
    cookie_jar_load_text(jar, "a=1; domain=.test; path=/\r\nb=2; domain=x; path=/\r\n");
    EXPECT_EQ(cookie_jar_entries(jar).size(), 2u);
    EXPECT_EQ(sent(jar, "http://www.example.test/"), "a=1");
}

TEST(CookieSending, PathIsABytePrefix) {
    CookieJar jar = jar_with({{"h.test", "root=1"}, {"h.test", "a=1; path=/a"}, {"h.test", "dir=1; path=/a/"}});
    EXPECT_EQ(sent(jar, "http://h.test/"), "root=1");
    EXPECT_EQ(sent(jar, "http://h.test/a"), "root=1; a=1");
    EXPECT_EQ(sent(jar, "http://h.test/ab"), "root=1; a=1");
    EXPECT_EQ(sent(jar, "http://h.test/a/b?x"), "root=1; a=1; dir=1");
    EXPECT_EQ(sent(jar, "http://h.test/A"), "root=1");
}

TEST(CookieSending, JarOrderIsDomainsThenPathsThenCookies) {
    CookieJar jar = jar_with({{"www.h.test", "p=1; path=/x"},
                              {"www.h.test", "q=1; domain=h.test"},
                              {"www.h.test", "r=1"},
                              {"www.h.test", "s=1; path=/x"}});
    EXPECT_EQ(sent(jar, "http://www.h.test/x"), "p=1; s=1; r=1; q=1");
}

TEST(CookieSending, NoHostNoCookies) {
    CookieJar jar = jar_with({{"h.test", "a=1"}});
    ParsedUrl no_host;
    no_host.path = "/";
    EXPECT_FALSE(cookie_jar_header_value(jar, no_host, kNow));
    EXPECT_EQ(sent(jar, "http://other.test/"), "<none>");
}

TEST(CookieExpiry, PastDatesAreNeverSentNorSavedAndAreDiscarded) {
    CookieJar jar = jar_with({{"h.test", "old=1; expires=Sat, 05 Nov 2005 08:49:37 GMT"},
                              {"h.test", "now=1; expires=Sun, 06 Nov 2005 08:49:37 GMT"},
                              {"h.test", "new=1; expires=Sun, 06 Nov 2005 08:49:38 GMT"}});
    EXPECT_EQ(sent(jar, "http://h.test/"), "new=1");
    EXPECT_EQ(cookie_jar_file_text(jar, kNow),
              "new=1; domain=h.test; path=/; expires=Sun, 06 Nov 2005 08:49:38 GMT\r\n");
    cookie_jar_discard_stale(jar, kNow);
    ASSERT_EQ(cookie_jar_entries(jar).size(), 1u);
    EXPECT_EQ(cookie_jar_entries(jar)[0].cookie.name, "new");
    // A second later it has expired too; stale removal keeps the empty entries.
    cookie_jar_discard_stale(jar, at("Sun, 06 Nov 2005 08:49:38 GMT"));
    EXPECT_TRUE(cookie_jar_entries(jar).empty());
    ASSERT_EQ(jar.domains.size(), 1u);
    EXPECT_EQ(jar.domains[0].paths.size(), 1u);
}

TEST(CookieExpiry, UnparseableDateIsSentSavedAndDiscarded) {
    CookieJar jar = jar_with({{"h.test", "a=1; expires=someday"}, {"h.test", "b=1"}});
    EXPECT_EQ(sent(jar, "http://h.test/"), "a=1; b=1");
    EXPECT_EQ(cookie_jar_file_text(jar, kNow),
              "a=1; domain=h.test; path=/; expires=someday\r\nb=1; domain=h.test; path=/\r\n");
    cookie_jar_discard_stale(jar, kNow);
    EXPECT_TRUE(cookie_jar_entries(jar).empty());
}

TEST(CookieExpiry, TheLastExpiresAttributeDecides) {
    CookieJar jar = jar_with({{"h.test", "a=1; expires=Sun, 06 Nov 2005 08:49:38 GMT; expires=never"}});
    const Cookie& a = jar.domains[0].paths[0].cookies[0];
    EXPECT_EQ(a.expires_text, "never");
    EXPECT_FALSE(a.has_expiry);
}

TEST(CookieFile, LinesAreSetCookieValues) {
    CookieJar jar = jar_with({{"www.h.test", "sid=abc; expires=Wed, 09 Jun 2021 10:18:14 GMT; path=/app; secure"},
                              {"www.h.test", "lang=ja; domain=.h.test"},
                              {"www.h.test", "e=; path="}});
    const std::string text = cookie_jar_file_text(jar, kNow);
    EXPECT_EQ(text,
              "sid=abc; domain=www.h.test; path=/app; expires=Wed, 09 Jun 2021 10:18:14 GMT; secure\r\n"
              "e=; domain=www.h.test; path=\r\n"
              "lang=ja; domain=.h.test; path=/\r\n");
    CookieJar reloaded;
    cookie_jar_load_text(reloaded, text);
    EXPECT_EQ(cookie_jar_entries(reloaded), cookie_jar_entries(jar));
    EXPECT_EQ(cookie_jar_file_text(reloaded, kNow), text);
}

TEST(CookieFile, LoadDropsLinesWithoutDomainAndAnUnfinishedLastLine) {
    CookieJar jar;
    jar.domains.push_back({"stale.test", {}});
    cookie_jar_load_text(jar, "a=1; path=/\r\nb=2; domain=h.test\nc=3; domain=h.test; path=/\r\r\nd=4; domain=h.test");
    std::vector<CookieEntry> entries = cookie_jar_entries(jar);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].cookie.name, "b");
    EXPECT_EQ(entries[1].cookie.name, "c");
    // Only one CR goes with the line end.
    EXPECT_EQ(entries[1].path, "/\r");
    EXPECT_EQ(jar.domains.size(), 1u);
}

TEST(CookieFile, AnEmptyJarIsAnEmptyFile) {
    EXPECT_EQ(cookie_jar_file_text(CookieJar{}, kNow), "");
    CookieJar jar;
    cookie_jar_load_text(jar, "");
    EXPECT_TRUE(jar.domains.empty());
}

TEST(TextLines, LineEndsAreLfWithAnOptionalCr) {
    const std::string_view bytes = "one\r\ntwo\n\r\n\rx\r\r\nlast";
    std::size_t offset = 0;
    std::vector<std::string> lines;
    while (std::optional<std::string_view> line = read_text_line(bytes, offset)) lines.emplace_back(*line);
    EXPECT_EQ(lines, (std::vector<std::string>{"one", "two", "", "\rx\r"}));
    EXPECT_EQ(offset, 16u);
    EXPECT_EQ(text_before_zero(std::string_view("ab\0c", 4)), "ab");
}

}  // namespace
}  // namespace vellum
