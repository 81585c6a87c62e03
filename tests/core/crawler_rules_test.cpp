#include "autoget/crawler_rules.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "autoget/crawler_order.h"
#include "autoget/page_tree.h"
#include "tests/support/fake_page_tree_view.h"

namespace vellum {
namespace {

ParsedUrl url_of(const std::string& text) {
    std::optional<ParsedUrl> url = parse_url(text);
    EXPECT_TRUE(url) << text;
    return url.value_or(ParsedUrl{});
}

CrawlerRequest request_for(const std::string& url) {
    CrawlerRequest request;
    request.url = url_of(url);
    request.saveFolder = "C:\\save";
    return request;
}

TEST(CrawlerRequestBlock, EveryLineInOrderEndingInCrLf) {
    CrawlerRequest request = request_for("http://example.com:8000/dir/page.html?q=1#part");
    request.referer = "http://example.com:8000/dir/";
    request.userAgent = "Mozilla/4.0 (compatible)";
    request.authorization = "dXNlcjpwYXNz";
    EXPECT_EQ(build_crawler_request(request),
              "GET http://example.com:8000/dir/page.html?q=1 HTTP/1.0\r\n"
              "Vellum-Mode: RecMode\r\n"
              "Vellum-LocalPath: C:\\save\r\n"
              "Accept: */*\r\n"
              "Referer: http://example.com:8000/dir/\r\n"
              "User-Agent: Mozilla/4.0 (compatible)\r\n"
              "Host: example.com:8000\r\n"
              "Authorization: Basic dXNlcjpwYXNz\r\n"
              "\r\n");
}

TEST(CrawlerRequestBlock, AbsentLinesAreLeftOut) {
    EXPECT_EQ(build_crawler_request(request_for("http://h/")),
              "GET http://h/ HTTP/1.0\r\nVellum-Mode: RecMode\r\nVellum-LocalPath: C:\\save\r\nAccept: */*\r\n"
              "Host: h\r\n\r\n");
    // A save folder with two-byte characters passes as it is.
    CrawlerRequest japanese = request_for("http://h/");
    japanese.saveFolder = "C:\\\x95\x5c\x8e\xa6";  // a trail byte 0x5C
    EXPECT_NE(build_crawler_request(japanese)->find("Vellum-LocalPath: C:\\\x95\x5c\x8e\xa6\r\n"), std::string::npos);
}

TEST(CrawlerRequestBlock, HttpsPagesAreAskedForWithTheirAbsoluteUrl) {
    CrawlerRequest request = request_for("https://h:8443/a/?q#f");
    request.referer = "https://h:8443/";
    EXPECT_EQ(build_crawler_request(request),
              "GET https://h:8443/a/?q HTTP/1.0\r\nVellum-Mode: RecMode\r\nVellum-LocalPath: C:\\save\r\n"
              "Accept: */*\r\nReferer: https://h:8443/\r\nHost: h:8443\r\n\r\n");
}

TEST(CrawlerRequestBlock, NothingThatCouldBreakALineIsSent) {
    // A link whose decoded value holds a line break must not add lines of
    // its own (a save folder of its choosing, say).
    CrawlerRequest request = request_for("http://h/a");
    request.url.path = "/a\r\nVellum-LocalPath: C:\\evil";
    EXPECT_FALSE(build_crawler_request(request));
    request = request_for("http://h/a");
    request.referer = "http://h/\nX: y";
    EXPECT_FALSE(build_crawler_request(request));
    request = request_for("http://h/a");
    request.userAgent = std::string("UA\0", 3);
    EXPECT_FALSE(build_crawler_request(request));
    request = request_for("http://h/a");
    request.saveFolder = "C:\\a\rb";
    EXPECT_FALSE(build_crawler_request(request));
    // Without a host or a path there is no request line.
    request = request_for("http://h/a");
    request.url.host.reset();
    EXPECT_FALSE(build_crawler_request(request));
    request = request_for("http://h/a");
    request.url.path.reset();
    EXPECT_FALSE(build_crawler_request(request));
}

TEST(StoredCopyUse, UpdateCheckDecidesWhetherToAsk) {
    const std::optional<std::string> html = "text/html; charset=Shift_JIS";
    const std::optional<std::string> upper_html = "TEXT/HTML";
    const std::optional<std::string> image = "image/png";
    const std::optional<std::string> none;
    for (const auto& type : {html, upper_html, image, none}) {
        EXPECT_EQ(stored_copy_use(0, type), StoredCopyUse::answer_from_copy);
        EXPECT_EQ(stored_copy_use(2, type), StoredCopyUse::request);
    }
    EXPECT_EQ(stored_copy_use(1, html), StoredCopyUse::request);
    EXPECT_EQ(stored_copy_use(1, upper_html), StoredCopyUse::request);
    // Other types stand as they are stored, as under 0.
    EXPECT_EQ(stored_copy_use(1, image), StoredCopyUse::answer_from_copy);
    EXPECT_EQ(stored_copy_use(1, none), StoredCopyUse::answer_from_copy);
    EXPECT_EQ(stored_copy_use(1, std::optional<std::string>("text/htm")), StoredCopyUse::answer_from_copy);
}

TEST(ClassifyFetch, StoredCopiesByTypeOtherAnswersByStatus) {
    auto classify = [](int status, const char* type) {
        return classify_fetch(status, true, type ? std::optional<std::string>(type) : std::nullopt);
    };
    EXPECT_EQ(classify(200, "text/html"), 2);
    EXPECT_EQ(classify(304, "Text/HTML; charset=EUC-JP"), 2);
    EXPECT_EQ(classify(200, "image/gif"), 3);
    EXPECT_EQ(classify(200, "video/mpeg"), 4);
    EXPECT_EQ(classify(200, "text/css"), 1);
    EXPECT_EQ(classify(200, "application/pdf"), 5);
    EXPECT_EQ(classify(200, nullptr), 100);
    // Any other status is the result itself, stored copy or not.
    EXPECT_EQ(classify(404, "text/html"), 404);
    EXPECT_EQ(classify(301, "text/html"), 301);
    EXPECT_EQ(classify_fetch(200, false, std::nullopt), 200);
    EXPECT_EQ(classify_fetch(304, false, std::optional<std::string>("text/html")), 304);
}

TEST(LinkScanFor, PagesAlwaysStylesheetsOnlyWithTheRequisites) {
    const std::optional<std::string> html("text/html"), css("text/css");
    auto scan = [](int result, bool children, int requisites, const char* type) {
        return link_scan_for(result, children, requisites, type ? std::optional<std::string>(type) : std::nullopt);
    };
    // Without the option only an HTML page without children is read, as it always was.
    EXPECT_EQ(scan(2, false, 0, "text/html"), LinkScan::page);
    EXPECT_EQ(scan(2, false, 0, nullptr), LinkScan::page);  // handed out with an earlier copy's result
    EXPECT_EQ(scan(2, true, 0, "text/html"), std::nullopt);
    for (int result : {0, 1, 3, 4, 5, 100, 200, 301, 304, 404, -1, -1000}) {
        EXPECT_EQ(scan(result, false, 0, "text/css"), std::nullopt) << result;
    }
    // With it a page is read with its requisites, and a stylesheet is read too.
    EXPECT_EQ(scan(2, false, 1, "text/html"), LinkScan::page_with_requisites);
    EXPECT_EQ(scan(1, false, 1, "text/css"), LinkScan::stylesheet);
    EXPECT_EQ(scan(1, false, 1, "Text/CSS; charset=Shift_JIS"), LinkScan::stylesheet);
    EXPECT_EQ(scan(1, false, 1, "text/css ;charset=utf-8"), LinkScan::stylesheet);
    EXPECT_EQ(scan(1, true, 1, "text/css"), std::nullopt);
    EXPECT_EQ(scan(1, false, 1, "text/cssx"), std::nullopt);
    EXPECT_EQ(scan(1, false, 1, "text/plain"), std::nullopt);
    EXPECT_EQ(scan(1, false, 1, nullptr), std::nullopt);
    EXPECT_EQ(scan(5, false, 1, "application/javascript"), std::nullopt);
    EXPECT_EQ(scan(404, false, 1, "text/css"), std::nullopt);
}

TEST(CrawlerTally, FailuresOfOneToNinetyNineAreRetriedRetryCountTimes) {
    CrawlerTally tally;
    EXPECT_EQ(tally.settle(-1, 2), 0);
    EXPECT_TRUE(tally.retry_pending());
    EXPECT_EQ(tally.settle(-99, 2), 0);
    EXPECT_EQ(tally.retries_used(), 2);
    // The third failure stays.
    EXPECT_EQ(tally.settle(-1, 2), -1);
    EXPECT_FALSE(tally.retry_pending());
    // The next node starts afresh; a success clears what was used.
    EXPECT_EQ(tally.settle(-5, 2), 0);
    EXPECT_EQ(tally.settle(2, 2), 2);
    EXPECT_FALSE(tally.retry_pending());
    EXPECT_EQ(tally.settle(-1, 2), 0);
}

TEST(CrawlerTally, StopsAuthenticationAndFatalFailuresAreNeverRetried) {
    for (int failure : {-100, -401, -1000, -1003}) {
        CrawlerTally tally;
        EXPECT_EQ(tally.settle(failure, 10), failure);
        EXPECT_FALSE(tally.retry_pending());
    }
    CrawlerTally none;
    EXPECT_EQ(none.settle(-1, 0), -1);
    EXPECT_TRUE(ends_run(-1000));
    EXPECT_TRUE(ends_run(-1003));
    EXPECT_FALSE(ends_run(-999));
    EXPECT_FALSE(ends_run(-401));
}

TEST(CrawlerTally, ThreeRedirectsInARowReachTheLimit) {
    CrawlerTally tally;
    tally.settle(301, 5);
    tally.settle(302, 5);
    EXPECT_FALSE(tally.redirect_limit_reached());
    tally.settle(2, 5);  // anything else starts again
    tally.settle(301, 5);
    tally.settle(307, 5);
    EXPECT_FALSE(tally.redirect_limit_reached());
    tally.settle(399, 5);
    EXPECT_TRUE(tally.redirect_limit_reached());

    CrawlerTally not_modified;
    for (int result : {301, 304, 301, 302}) not_modified.settle(result, 5);
    EXPECT_FALSE(not_modified.redirect_limit_reached());
    // A retried failure between redirects breaks the row too.
    CrawlerTally retried;
    for (int result : {301, 302, -1, 301}) retried.settle(result, 5);
    EXPECT_FALSE(retried.redirect_limit_reached());
}

TEST(CrawlerOrder, CopiesWhatTheThreadNeedsOfANode) {
    testing::FakePageTreeView view;
    PageTree tree(view);
    AutoGetJob job;
    job.maxDepth = 3;
    job.saveFolder = "C:\\save";
    job.restrictions = LineList{"http://h/"};
    job.referer = url_of("http://search.example/?q=h");
    job.userAgent = "UA/1";
    const ParsedUrl base_url = url_of("http://h/index.html");
    PageNode* base = tree.add_child(false, nullptr, &base_url, std::make_unique<AutoGetJob>(job));
    const ParsedUrl child_url = url_of("http://h/a/b.html#frag");
    PageNode* child = tree.add_child(true, base, &child_url, nullptr);
    ASSERT_TRUE(base && child);

    CrawlerOrder base_order = crawler_order_for(*base);
    EXPECT_EQ(base_order.job, job);
    EXPECT_EQ(base_order.urlText, "http://h/index.html");
    EXPECT_FALSE(base_order.parentUrl);
    EXPECT_TRUE(base_order.hasChildren);
    EXPECT_EQ(crawler_referer(base_order), "http://search.example/?q=h");

    tree.record_fetch_result(*child, 2);
    CrawlerOrder child_order = crawler_order_for(*child);
    EXPECT_EQ(child_order.urlText, "http://h/a/b.html");
    EXPECT_EQ(child_order.parentUrl, "http://h/index.html");
    EXPECT_EQ(crawler_referer(child_order), "http://h/index.html");
    EXPECT_EQ(child_order.result, 2);
    EXPECT_FALSE(child_order.hasChildren);
    EXPECT_EQ(child_order.job.userAgent, "UA/1");

    // A base node reserved without a Referer sends none.
    base_order.job.referer.reset();
    EXPECT_FALSE(crawler_referer(base_order));
}

}  // namespace
}  // namespace vellum
