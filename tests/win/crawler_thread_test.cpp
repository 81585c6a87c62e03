// The crawler thread against stand-ins for both its partners: a fake
// auto-get window on the test thread that hands out scripted nodes and
// records what the thread reports, and a fake proxy port that captures each
// request block byte for byte, records pages into a temporary save folder as
// the proxy engine would, and reports back to the thread.
#include "autoget/crawler_thread_win.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "autoget/crawler_order.h"
#include "autoget/crawler_rules.h"
#include "autoget/link_extractor.h"
#include "base/messages.h"
#include "base/thread_message.h"
#include "http/url_text.h"
#include "proxy/crawler_report_win.h"
#include "tests/support/fake_proxy_win.h"
#include "tests/support/socket_pair_win.h"
#include "tests/support/temp_folder_win.h"

namespace vellum {
namespace {

using testing::FakeProxy;
using testing::record_page;
using testing::TempFolder;

ParsedUrl url_of(const std::string& text) {
    return parse_url(text).value();
}

// The auto-get window as the crawler sees it: scripted nodes, recorded
// reports. Runs on the test thread.
class FakeAutoGetWindow {
public:
    struct Reported {
        int result = 0;
        std::vector<std::pair<int, std::string>> links;  // isLink, URL text
    };

    FakeAutoGetWindow() {
        WNDCLASSA wc{};
        wc.lpfnWndProc = &FakeAutoGetWindow::procedure;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "VellumTestAutoGetWindow";
        RegisterClassA(&wc);
        window_ = CreateWindowA(wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, this);
    }
    ~FakeAutoGetWindow() { DestroyWindow(window_); }
    HWND get() const { return window_; }

    // Runs the crawler until its AGM_END; false if it never came.
    bool run(std::uint16_t proxy_port, CrawlerSignals* signals = nullptr) {
        CrawlerStart start;
        start.window = window_;
        start.proxy_address = INADDR_LOOPBACK;
        start.proxy_port = proxy_port;
        start.signals = signals;
        std::optional<CrawlerThread> thread = start_crawler_thread(start);
        if (!thread) return false;
        crawler_id = thread->id;
        set_crawler_thread_id(thread->id);
        const ULONGLONG begun = GetTickCount64();
        MSG msg;
        while (!ended && GetTickCount64() - begun < 60000) {
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
            if (!ended) MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        }
        const bool exited = WaitForSingleObject(thread->handle.get(), 10000) == WAIT_OBJECT_0;
        set_crawler_thread_id(0);
        return ended && exited;
    }

    void post_to_crawler(UINT message) { PostThreadMessageA(crawler_id, message, 0, 0); }

    // The script.
    std::vector<CrawlerOrder> nodes;
    std::optional<std::string> token;          // AGM_AUTH's answer
    std::function<void(int node)> on_next;     // after a node is handed out
    bool stop_before_next = false;             // CRM_STOP just before answering AGM_NEXT

    // What the crawler did.
    std::vector<Reported> results;
    std::vector<std::pair<std::string, std::string>> auth_asked;  // host, challenge
    int retries_asked = 0;
    int next_asked = 0;
    bool ended = false;
    WPARAM end_stopped = 0;
    std::string end_text;
    DWORD crawler_id = 0;

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
        if (message == WM_NCCREATE) {
            SetWindowLongPtrA(window, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lparam)->lpCreateParams));
        }
        auto* self = reinterpret_cast<FakeAutoGetWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self && self->handle(message, wparam, lparam)) return 0;
        return DefWindowProcA(window, message, wparam, lparam);
    }

    bool handle(UINT message, WPARAM wparam, LPARAM lparam) {
        switch (message) {
        case AGM_NEXT: {
            ++next_asked;
            if (stop_before_next) post_to_crawler(CRM_STOP);
            WPARAM node = 0;
            if (handed_ < nodes.size()) {
                *reinterpret_cast<CrawlerOrder*>(lparam) = nodes[handed_];
                node = ++handed_;
            }
            PostThreadMessageA(crawler_id, CRM_NEXT, node, 0);
            if (node && on_next) on_next(static_cast<int>(node) - 1);
            return true;
        }
        case AGM_RETRY:
            ++retries_asked;
            *reinterpret_cast<CrawlerOrder*>(lparam) = nodes[handed_ - 1];
            PostThreadMessageA(crawler_id, CRM_RETRY, handed_, 0);
            return true;
        case AGM_RESULT: {
            Reported reported;
            reported.result = static_cast<int>(static_cast<INT_PTR>(wparam));
            if (const auto* links = reinterpret_cast<const LinkList*>(lparam)) {
                for (const LinkEntry& entry : *links) reported.links.emplace_back(entry.isLink, url_text(entry.url).value());
            }
            results.push_back(reported);
            PostThreadMessageA(crawler_id, CRM_RESULT, 0, 0);
            return true;
        }
        case AGM_AUTH:
            auth_asked.emplace_back(reinterpret_cast<const char*>(wparam), reinterpret_cast<const char*>(lparam));
            if (token) {
                post_thread_owned(crawler_id, CRM_AUTH, std::make_unique<std::string>(*token));
            } else {
                PostThreadMessageA(crawler_id, CRM_AUTH, 0, 0);
            }
            return true;
        case AGM_END:
            ended = true;
            end_stopped = wparam;
            if (lparam) end_text = reinterpret_cast<const char*>(lparam);
            return true;
        }
        return false;
    }

    HWND window_ = nullptr;
    std::size_t handed_ = 0;
};

class CrawlerThreadTest : public ::testing::Test {
protected:
    testing::WinsockSession winsock;
    TempFolder save;
    FakeAutoGetWindow window;

    AutoGetJob job(int updateCheck = 2, int retryCount = 0) {
        AutoGetJob j;
        j.saveFolder = save.path();
        j.updateCheck = updateCheck;
        j.retryCount = retryCount;
        return j;
    }
    CrawlerOrder node(const std::string& url, const AutoGetJob& j, std::optional<std::string> parent = std::nullopt) {
        CrawlerOrder order;
        order.job = j;
        order.url = url_of(url);
        order.urlText = url_text(order.url).value();
        order.parentUrl = std::move(parent);
        return order;
    }
    static std::string url_in(const std::string& block) {
        return block.substr(4, block.find(" HTTP/1.0") - 4);
    }
};

TEST_F(CrawlerThreadTest, SendsTheExactBlockAndReportsPagesWithTheirLinks) {
    AutoGetJob j = job();
    j.referer = url_of("http://search.example/find?q=site");
    j.userAgent = "Mozilla/4.0 (compatible; MSIE 6.0)";
    window.nodes = {node("http://site.example:8080/docs/index.html", j),
                    node("http://site.example:8080/docs/logo.png", j, "http://site.example:8080/docs/index.html")};
    FakeProxy proxy([&](const std::string& block) {
        if (url_in(block).ends_with("index.html")) {
            record_page(save.path(), url_in(block),
                        "<html><body background='bg.gif'><a href='a.html#x'>a</a><img src=\"logo.png\">"
                        "<a href=\"../up.html\">up</a></body></html>",
                        "text/html");
        } else {
            record_page(save.path(), url_in(block), "PNG", "image/png");
        }
        report_fetch_done(200);
    });
    ASSERT_TRUE(window.run(proxy.port()));

    const std::vector<FakeProxy::Request> requests = proxy.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].block,
              "GET http://site.example:8080/docs/index.html HTTP/1.0\r\n"
              "Vellum-Mode: RecMode\r\n"
              "Vellum-LocalPath: " + save.path() + "\r\n"
              "Accept: */*\r\n"
              "Referer: http://search.example/find?q=site\r\n"
              "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0)\r\n"
              "Host: site.example:8080\r\n"
              "\r\n");
    // A child's Referer is its parent's URL.
    EXPECT_EQ(requests[1].block,
              "GET http://site.example:8080/docs/logo.png HTTP/1.0\r\n"
              "Vellum-Mode: RecMode\r\n"
              "Vellum-LocalPath: " + save.path() + "\r\n"
              "Accept: */*\r\n"
              "Referer: http://site.example:8080/docs/index.html\r\n"
              "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0)\r\n"
              "Host: site.example:8080\r\n"
              "\r\n");
    // Each connection announced itself before it sent.
    EXPECT_TRUE(requests[0].own);
    EXPECT_TRUE(requests[1].own);

    ASSERT_EQ(window.results.size(), 2u);
    EXPECT_EQ(window.results[0].result, 2);
    EXPECT_EQ(window.results[0].links,
              (std::vector<std::pair<int, std::string>>{{0, "http://site.example:8080/docs/bg.gif"},
                                                         {1, "http://site.example:8080/docs/a.html"},
                                                         {0, "http://site.example:8080/docs/logo.png"},
                                                         {1, "http://site.example:8080/up.html"}}));
    EXPECT_EQ(window.results[1].result, 3);
    EXPECT_TRUE(window.results[1].links.empty());
    EXPECT_EQ(window.next_asked, 3);
    EXPECT_TRUE(window.ended);
    EXPECT_EQ(window.end_stopped, 0u);
    EXPECT_EQ(window.end_text, "");
}

TEST_F(CrawlerThreadTest, StoredCopiesAreAskedForAgainOnlyAsTheUpdateCheckSays) {
    record_page(save.path(), "http://h/page.html", "<a href='next.html'>n</a>", "text/html");
    record_page(save.path(), "http://h/pic.gif", "GIF", "image/gif");
    record_page(save.path(), "http://h/raw", "?", std::nullopt);
    FakeProxy proxy([&](const std::string&) { report_fetch_done(200); });
    struct Case {
        int updateCheck;
        std::vector<std::string> asked;
    };
    for (const Case& c : {Case{0, {}}, Case{1, {"http://h/page.html"}},
                          Case{2, {"http://h/page.html", "http://h/pic.gif", "http://h/raw"}}}) {
        SCOPED_TRACE(c.updateCheck);
        FakeAutoGetWindow run;
        run.nodes = {node("http://h/page.html", job(c.updateCheck)), node("http://h/pic.gif", job(c.updateCheck)),
                     node("http://h/raw", job(c.updateCheck))};
        const std::size_t before = proxy.requests().size();
        ASSERT_TRUE(run.run(proxy.port()));
        std::vector<std::string> asked;
        for (std::size_t i = before; i < proxy.requests().size(); ++i) asked.push_back(url_in(proxy.requests()[i].block));
        EXPECT_EQ(asked, c.asked);
        // Every stored copy shows by its type, asked for or not; an HTML
        // copy is expanded from the store.
        ASSERT_EQ(run.results.size(), 3u);
        EXPECT_EQ(run.results[0].result, 2);
        EXPECT_EQ(run.results[0].links, (std::vector<std::pair<int, std::string>>{{1, "http://h/next.html"}}));
        EXPECT_EQ(run.results[1].result, 3);
        EXPECT_EQ(run.results[2].result, 100);
    }
}

TEST_F(CrawlerThreadTest, AResultTakenFromADuplicateIsExpandedWithoutARequest) {
    record_page(save.path(), "http://h/dup.html", "<img src='i.gif'>", "text/html");
    FakeProxy proxy([&](const std::string&) { report_fetch_done(200); });
    CrawlerOrder expand = node("http://h/dup.html", job());
    expand.result = 2;
    CrawlerOrder expanded = expand;
    expanded.hasChildren = true;  // its links are in the tree already
    CrawlerOrder image = node("http://h/x.gif", job());
    image.result = 3;
    window.nodes = {expand, expanded, image};
    ASSERT_TRUE(window.run(proxy.port()));
    EXPECT_TRUE(proxy.requests().empty());
    ASSERT_EQ(window.results.size(), 3u);
    EXPECT_EQ(window.results[0].result, 2);
    EXPECT_EQ(window.results[0].links, (std::vector<std::pair<int, std::string>>{{0, "http://h/i.gif"}}));
    EXPECT_TRUE(window.results[1].links.empty());
    EXPECT_EQ(window.results[2].result, 3);
}

TEST_F(CrawlerThreadTest, WithThePageRequisitesPagesGiveThemAndStylesheetsAreReadToo) {
    const std::string page = "<link rel=stylesheet href='css/site.css'><script src=a.js></script><a href=n.html>";
    const std::string sheet = "@import 'more.css'; body{background:url(../img/bg.png)}";
    FakeProxy proxy([&](const std::string& block) {
        const std::string url = url_in(block);
        if (url.ends_with(".html")) record_page(save.path(), url, page, "text/html");
        if (url.ends_with(".css")) record_page(save.path(), url, sheet, "text/css; charset=utf-8");
        if (url.ends_with(".txt")) record_page(save.path(), url, sheet, "text/plain");
        report_fetch_done(200);
    });
    for (int requisites : {0, 1}) {
        SCOPED_TRACE(requisites);
        AutoGetJob j = job();
        j.pageRequisites = requisites;
        FakeAutoGetWindow run;
        run.nodes = {node("http://h/d/index.html", j), node("http://h/d/css/site.css", j),
                     node("http://h/d/notes.txt", j)};
        ASSERT_TRUE(run.run(proxy.port()));
        ASSERT_EQ(run.results.size(), 3u);
        using Links = std::vector<std::pair<int, std::string>>;
        EXPECT_EQ(run.results[0].result, 2);
        EXPECT_EQ(run.results[1].result, 1);
        EXPECT_EQ(run.results[2].result, 1);
        if (requisites == 0) {
            EXPECT_EQ(run.results[0].links, (Links{{1, "http://h/d/n.html"}}));
            EXPECT_TRUE(run.results[1].links.empty());
        } else {
            EXPECT_EQ(run.results[0].links,
                      (Links{{0, "http://h/d/css/site.css"}, {0, "http://h/d/a.js"}, {1, "http://h/d/n.html"}}));
            EXPECT_EQ(run.results[1].links, (Links{{0, "http://h/d/css/more.css"}, {0, "http://h/d/img/bg.png"}}));
        }
        // Text of another type is never read for references.
        EXPECT_TRUE(run.results[2].links.empty());
    }
}

TEST_F(CrawlerThreadTest, CredentialsAreAskedForOnceAndThenSentWithinTheirDirectory) {
    int count = 0;
    FakeProxy proxy([&](const std::string& block) {
        ++count;
        const bool authorized = block.find("Authorization: Basic dXNlcjpwYXNz\r\n") != std::string::npos;
        if (url_in(block) == "http://h/open/x.html" || authorized) {
            record_page(save.path(), url_in(block), "x", "text/plain");
            report_fetch_done(200);
        } else {
            report_fetch_auth("Basic realm=\"members\"");
        }
    });
    window.token = "dXNlcjpwYXNz";
    window.nodes = {node("http://h/members/a.html?q", job()), node("http://h/members/sub/b.html", job()),
                    node("http://h/open/x.html", job())};
    ASSERT_TRUE(window.run(proxy.port()));
    ASSERT_EQ(window.auth_asked.size(), 1u);
    EXPECT_EQ(window.auth_asked[0], (std::pair<std::string, std::string>{"h", "Basic realm=\"members\""}));
    const std::vector<std::string> blocks = proxy.blocks();
    ASSERT_EQ(blocks.size(), 4u);
    EXPECT_EQ(blocks[0].find("Authorization"), std::string::npos);
    // The second request adds the line just before the empty line.
    EXPECT_NE(blocks[1].find("Host: h\r\nAuthorization: Basic dXNlcjpwYXNz\r\n\r\n"), std::string::npos);
    // Inside the directory at once; outside it not at all.
    EXPECT_NE(blocks[2].find("Authorization: Basic dXNlcjpwYXNz\r\n"), std::string::npos);
    EXPECT_EQ(blocks[3].find("Authorization"), std::string::npos);
    ASSERT_EQ(window.results.size(), 3u);
    for (const auto& reported : window.results) EXPECT_EQ(reported.result, 1);
}

TEST_F(CrawlerThreadTest, RefusedCredentialsEndTheNodeWith401) {
    FakeProxy proxy([&](const std::string&) { report_fetch_auth("Basic realm=\"x\""); });
    window.nodes = {node("http://h/secret/", job(2, 5))};
    ASSERT_TRUE(window.run(proxy.port()));
    // No credentials stored: asked once, sent again without them, refused.
    EXPECT_EQ(window.auth_asked.size(), 1u);
    const std::vector<std::string> blocks = proxy.blocks();
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[1].find("Authorization"), std::string::npos);
    ASSERT_EQ(window.results.size(), 1u);
    EXPECT_EQ(window.results[0].result, -401);
    EXPECT_EQ(window.retries_asked, 0);
}

TEST_F(CrawlerThreadTest, CredentialsOfOneSiteAreNeverSentToAnother) {
    int b_asked = 0;
    FakeProxy proxy([&](const std::string& block) {
        const std::string url = url_in(block);
        const bool authorized = block.find("Authorization") != std::string::npos;
        if (url == "http://a/d/1.html" && !authorized) {
            report_fetch_auth("Basic realm=\"a\"");
        } else if (url == "http://b/d/1.html" && b_asked++ == 0) {
            report_fetch_auth("Basic realm=\"b\"");
        } else {
            report_fetch_done(404);
        }
    });
    // Credentials only for the first site; the second site's exchange gets
    // none, and its server lets the page through anyway.
    window.on_next = [&](int index) { window.token = index == 0 ? std::optional<std::string>("YTpz") : std::nullopt; };
    window.nodes = {node("http://a/d/1.html", job()), node("http://b/d/1.html", job()), node("http://b/d/2.html", job())};
    ASSERT_TRUE(window.run(proxy.port()));
    const std::vector<std::string> blocks = proxy.blocks();
    ASSERT_EQ(blocks.size(), 5u);
    EXPECT_NE(blocks[1].find("Authorization: Basic YTpz\r\n"), std::string::npos);
    for (std::size_t i = 2; i < blocks.size(); ++i) EXPECT_EQ(blocks[i].find("Authorization"), std::string::npos) << i;
    ASSERT_EQ(window.results.size(), 3u);
    EXPECT_EQ(window.results[1].result, 404);
}

TEST_F(CrawlerThreadTest, ConnectionFailuresAreRetriedThenKept) {
    int refusals = 2;
    FakeProxy proxy([&](const std::string& block) {
        if (refusals-- > 0) {
            report_fetch_failed(1, nullptr);
            return;
        }
        record_page(save.path(), url_in(block), "t", "text/plain");
        report_fetch_done(200);
    });
    window.nodes = {node("http://h/flaky.txt", job(2, 3))};
    ASSERT_TRUE(window.run(proxy.port()));
    EXPECT_EQ(window.retries_asked, 2);
    ASSERT_EQ(window.results.size(), 3u);
    EXPECT_EQ(window.results[0].result, 0);  // waits for its retry
    EXPECT_EQ(window.results[1].result, 0);
    EXPECT_EQ(window.results[2].result, 1);
    EXPECT_EQ(proxy.requests().size(), 3u);

    FakeAutoGetWindow few;
    refusals = 10;
    few.nodes = {node("http://h/down.txt", job(2, 1))};
    ASSERT_TRUE(few.run(proxy.port()));
    ASSERT_EQ(few.results.size(), 2u);
    EXPECT_EQ(few.results[0].result, 0);
    EXPECT_EQ(few.results[1].result, -1);
}

TEST_F(CrawlerThreadTest, NoProxyOrNoRequestIsAFailureWorthRetrying) {
    UniqueSocket closed(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(closed.get(), reinterpret_cast<sockaddr*>(&at), sizeof at);
    int length = sizeof at;
    getsockname(closed.get(), reinterpret_cast<sockaddr*>(&at), &length);
    const std::uint16_t nobody = ntohs(at.sin_port);  // bound, never listening
    window.nodes = {node("http://h/a.html", job(2, 1))};
    ASSERT_TRUE(window.run(nobody));
    ASSERT_EQ(window.results.size(), 2u);
    EXPECT_EQ(window.results[1].result, -1);

    // A URL that would break the block never leaves the thread.
    FakeProxy proxy([&](const std::string&) { report_fetch_done(200); });
    FakeAutoGetWindow broken;
    CrawlerOrder order = node("http://h/a.html", job());
    order.url.path = "/a\r\nVellum-LocalPath: C:\\elsewhere";
    broken.nodes = {order};
    ASSERT_TRUE(broken.run(proxy.port()));
    EXPECT_TRUE(proxy.requests().empty());
    ASSERT_EQ(broken.results.size(), 1u);
    EXPECT_EQ(broken.results[0].result, -1);
}

TEST_F(CrawlerThreadTest, ThreeRedirectsInARowEndTheRunWithItsText) {
    FakeProxy proxy([&](const std::string&) { report_fetch_done(301); });
    for (const char* path : {"/1", "/2", "/3", "/4"}) window.nodes.push_back(node(std::string("http://h") + path, job()));
    ASSERT_TRUE(window.run(proxy.port()));
    ASSERT_EQ(window.results.size(), 3u);  // the third is reported first
    EXPECT_EQ(window.results[2].result, 301);
    EXPECT_EQ(window.end_text, kRedirectLimitText);
    EXPECT_EQ(window.end_stopped, 0u);
}

TEST_F(CrawlerThreadTest, AFatalFailureEndsTheRunWithTheProxysText) {
    FakeProxy proxy([&](const std::string&) { report_fetch_failed(1002, "ファイル書き込みエラーが発生しました"); });
    window.nodes = {node("http://h/1", job(2, 5)), node("http://h/2", job())};
    ASSERT_TRUE(window.run(proxy.port()));
    ASSERT_EQ(window.results.size(), 1u);
    EXPECT_EQ(window.results[0].result, -1002);
    EXPECT_EQ(window.end_text, "ファイル書き込みエラーが発生しました");
    EXPECT_EQ(window.retries_asked, 0);
}

TEST_F(CrawlerThreadTest, AStopDuringAFetchTakesEffectAfterItsReport) {
    FakeProxy proxy([&](const std::string& block) {
        window.post_to_crawler(CRM_STOP);
        Sleep(100);  // the stop is in the queue before the report
        record_page(save.path(), url_in(block), "x", "text/plain");
        report_fetch_done(200);
    });
    window.nodes = {node("http://h/1.txt", job()), node("http://h/2.txt", job())};
    ASSERT_TRUE(window.run(proxy.port()));
    EXPECT_EQ(proxy.requests().size(), 1u);
    ASSERT_EQ(window.results.size(), 1u);
    EXPECT_EQ(window.results[0].result, 1);
    EXPECT_EQ(window.end_stopped, 1u);
    EXPECT_EQ(window.next_asked, 1);

    // A stop that arrives with the node fetches nothing.
    FakeAutoGetWindow early;
    early.stop_before_next = true;
    early.nodes = {node("http://h/3.txt", job())};
    ASSERT_TRUE(early.run(proxy.port()));
    EXPECT_EQ(proxy.requests().size(), 1u);
    ASSERT_EQ(early.results.size(), 1u);
    EXPECT_EQ(early.results[0].result, 0);
    EXPECT_EQ(early.end_stopped, 1u);
}

TEST_F(CrawlerThreadTest, ATransferCutByTheImmediateStopIsCode100NotRetried) {
    CrawlerSignals signals;
    FakeProxy proxy([&](const std::string&) {
        window.post_to_crawler(CRM_STOP);
        signals.transfers_cut = true;
        report_fetch_failed(1, nullptr);  // the closed server socket's failure
    });
    window.nodes = {node("http://h/big.bin", job(2, 5))};
    ASSERT_TRUE(window.run(proxy.port(), &signals));
    ASSERT_EQ(window.results.size(), 1u);
    EXPECT_EQ(window.results[0].result, -100);
    EXPECT_EQ(window.retries_asked, 0);
    EXPECT_EQ(window.end_stopped, 1u);
}

TEST_F(CrawlerThreadTest, ClosingTheProgramEndsAWaitForAReportThatNeverComes) {
    CrawlerSignals signals;
    FakeProxy proxy([&](const std::string&) {
        // The proxy stopped taking connections: no report will come.
        signals.program_closing = true;
        window.post_to_crawler(CRM_STOP);
    });
    window.nodes = {node("http://h/lost.html", job())};
    ASSERT_TRUE(window.run(proxy.port(), &signals));
    ASSERT_EQ(window.results.size(), 1u);
    EXPECT_EQ(window.results[0].result, -100);
    EXPECT_EQ(window.end_stopped, 1u);
}

}  // namespace
}  // namespace vellum
