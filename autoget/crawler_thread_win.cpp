#include "autoget/crawler_thread_win.h"

#include <memory>
#include <new>
#include <string>

#include "autoget/crawler_order.h"
#include "autoget/crawler_rules.h"
#include "autoget/link_cache.h"
#include "autoget/link_cache_win.h"
#include "autoget/link_extractor.h"
#include "base/messages.h"
#include "base/thread_message.h"
#include "cookies/credentials.h"
#include "http/url_text.h"
#include "proxy/own_connections_win.h"
#include "store/recorded_page_win.h"
#include "store/store_lock_win.h"

namespace vellum {
namespace {

// What the stored copy of a page says, read under the store lock; the file
// itself is closed at once.
struct StoredCopy {
    bool stored = false;
    std::optional<std::string> content_type;
};

StoredCopy look_up_stored_copy(const CrawlerOrder& order) {
    StoreLockHold hold;
    std::optional<RecordedPage> page = open_recorded_page(order.job.saveFolder, order.url);
    if (!page) return {};
    return {true, page->header ? page->header->content_type : std::nullopt};
}

// The proxy engine's report on one request.
struct ProxyAnswer {
    enum Kind { done, failed, auth, lost } kind = lost;
    int code = 0;                              // done: the status; failed: the failure code
    const char* text = nullptr;                // failed: a constant text or nullptr
    std::unique_ptr<std::string> challenge;    // auth: the server's WWW-Authenticate value
};

// A fetch's outcome before classification.
struct Fetched {
    int status = 0;   // the HTTP status when failure is 0
    int failure = 0;  // the failure code, or 0
};

class Crawler {
public:
    explicit Crawler(const CrawlerStart& start) : start_(start) {}

    void run() {
        drain();
        for (;;) {
            if (stop_) break;
            const UINT ask = tally_.retry_pending() ? AGM_RETRY : AGM_NEXT;
            if (!PostMessageA(start_.window, ask, 0, reinterpret_cast<LPARAM>(&order_))) break;
            const std::optional<WPARAM> node = wait_reply(ask);
            if (!node || *node == 0) break;

            end_text_ = nullptr;
            stored_type_.reset();
            int result = 0;
            if (!stop_) result = order_.result != 0 ? order_.result : fetch_page();
            if (const std::optional<LinkScan> scan =
                    link_scan_for(result, order_.hasChildren, order_.job.pageRequisites, stored_type_)) {
                extract_links_of_page(*scan);
            }
            result = tally_.settle(result, order_.job.retryCount);

            drain();
            const bool posted =
                PostMessageA(start_.window, AGM_RESULT, static_cast<WPARAM>(static_cast<INT_PTR>(result)),
                             links_.empty() ? 0 : reinterpret_cast<LPARAM>(&links_));
            const bool answered = posted && wait_reply(CRM_RESULT).has_value();
            links_.clear();
            if (!answered || stop_ || ends_run(result)) break;
            if (tally_.redirect_limit_reached()) {
                end_text_ = kRedirectLimitText;
                break;
            }
        }
        credentials_.reset();
        scope_.reset();
        PostMessageA(start_.window, AGM_END, stop_ ? 1 : 0, reinterpret_cast<LPARAM>(end_text_));
    }

private:
    // Frees what a message that is not waited for carries.
    static void discard(const MSG& msg) {
        if (msg.message == CRM_FETCH_AUTH || msg.message == CRM_AUTH) adopt_wparam<std::string>(msg.wParam);
    }

    // Empties the queue without waiting; only the stop request counts.
    void drain() {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == CRM_STOP) {
                stop_ = true;
            } else {
                discard(msg);
            }
        }
    }

    // Waits for the window's answer of the same number; the stop request
    // is noted meanwhile and everything else dropped. None when the wait fails.
    std::optional<WPARAM> wait_reply(UINT message) {
        MSG msg;
        for (;;) {
            const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
            if (got == 0 || got == -1) return std::nullopt;
            if (msg.message == message) return msg.wParam;
            if (msg.message == CRM_STOP) {
                stop_ = true;
            } else {
                discard(msg);
            }
        }
    }

    ProxyAnswer wait_for_proxy() {
        ProxyAnswer answer;
        MSG msg;
        for (;;) {
            const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
            if (got == 0 || got == -1) return answer;
            switch (msg.message) {
            case CRM_STOP:
                stop_ = true;
                // Closing, the proxy may never report: its connection was
                // refused or aborted, and every transfer ends anyway.
                if (start_.signals && start_.signals->program_closing) {
                    answer.kind = ProxyAnswer::failed;
                    answer.code = fetch_failure::kCutByStop;
                    return answer;
                }
                break;
            case CRM_FETCH_DONE:
                answer.kind = ProxyAnswer::done;
                answer.code = static_cast<int>(msg.wParam);
                return answer;
            case CRM_FETCH_FAILED:
                answer.kind = ProxyAnswer::failed;
                answer.code = static_cast<int>(msg.wParam);
                answer.text = reinterpret_cast<const char*>(msg.lParam);
                return answer;
            case CRM_FETCH_AUTH:
                answer.kind = ProxyAnswer::auth;
                answer.challenge = adopt_wparam<std::string>(msg.wParam);
                return answer;
            default:
                discard(msg);
            }
        }
    }

    // Sends the block to the proxy port in one piece and closes at once.
    bool send_block(const std::string& block) const {
        UniqueSocket own(socket(AF_INET, SOCK_STREAM, 0));
        if (!own) return false;
        sockaddr_in at{};
        at.sin_family = AF_INET;
        // Listening on every interface: the loopback one is ours too.
        at.sin_addr.s_addr = htonl(start_.proxy_address == INADDR_ANY ? INADDR_LOOPBACK : start_.proxy_address);
        at.sin_port = htons(start_.proxy_port);
        if (connect(own.get(), reinterpret_cast<sockaddr*>(&at), sizeof at) == SOCKET_ERROR) return false;
        // Unannounced, the proxy would take the marked lines for a
        // stranger's and never report: better not to send at all.
        if (!announce_own_connection(own.get())) return false;
        const int length = static_cast<int>(block.size());
        return send(own.get(), block.data(), length, 0) == length;
    }

    // The request, repeated once with credentials when the server asks.
    Fetched request_page() {
        bool exchange = false;                     // an authentication exchange is pending
        bool offered = false;                      // the window gave credentials for it
        std::unique_ptr<std::string> challenge;
        for (;;) {
            CrawlerRequest request;
            request.url = order_.url;
            request.saveFolder = order_.job.saveFolder;
            request.referer = crawler_referer(order_);
            request.userAgent = order_.job.userAgent;
            if (exchange) {
                std::unique_ptr<std::string> token = ask_credentials(*challenge);
                if (token) {
                    credentials_ = std::move(*token);
                    request.authorization = credentials_;
                    offered = true;
                }
            } else if (credentials_ && scope_ && in_credential_scope(*scope_, order_.urlText)) {
                request.authorization = credentials_;
            }
            const std::optional<std::string> block = build_crawler_request(request);
            challenge.reset();
            if (!block || !send_block(*block)) return {0, fetch_failure::kCannotSend};

            ProxyAnswer answer = wait_for_proxy();
            switch (answer.kind) {
            case ProxyAnswer::done:
                // Only credentials the server took mark out where to send
                // them again: never those of another site.
                if (exchange && offered) scope_ = credential_scope(order_.urlText);
                return {answer.code, 0};
            case ProxyAnswer::failed:
                end_text_ = answer.text;
                return {0, answer.code};
            case ProxyAnswer::auth:
                if (exchange) return {0, fetch_failure::kAuthRefused};
                exchange = true;
                challenge = std::move(answer.challenge);
                break;
            case ProxyAnswer::lost:
                return {0, fetch_failure::kCannotSend};
            }
        }
    }

    // AGM_AUTH with the node's host and the challenge; the window's token,
    // or nullptr.
    std::unique_ptr<std::string> ask_credentials(const std::string& challenge) {
        const std::string host = credential_host(order_.url, url_host_port(order_.url).value_or(""));
        if (!PostMessageA(start_.window, AGM_AUTH, reinterpret_cast<WPARAM>(host.c_str()),
                          reinterpret_cast<LPARAM>(challenge.c_str()))) {
            return nullptr;
        }
        const std::optional<WPARAM> token = wait_reply(CRM_AUTH);
        return token ? adopt_wparam<std::string>(*token) : nullptr;
    }

    int fetch_page() {
        StoredCopy copy = look_up_stored_copy(order_);
        int status = 304;
        if (!copy.stored || stored_copy_use(order_.job.updateCheck, copy.content_type) == StoredCopyUse::request) {
            const Fetched fetched = request_page();
            if (fetched.failure != 0) {
                int failure = fetched.failure;
                if (failure < fetch_failure::kCutByStop && start_.signals && start_.signals->transfers_cut) {
                    failure = fetch_failure::kCutByStop;
                }
                return -failure;
            }
            status = fetched.status;
            copy = look_up_stored_copy(order_);
        }
        stored_type_ = copy.content_type;
        return classify_fetch(status, copy.stored, copy.content_type);
    }

    // A page is expanded again from its stored copy each time the walk
    // reaches it at a shallower depth: its links come from the cache unless
    // the copy changed since they were read.
    void extract_links_of_page(LinkScan scan) {
        StoreLockHold hold;
        link_cache_.links_of(order_.job.saveFolder, order_.url, links_, scan);
    }

    const CrawlerStart start_;
    // The job buffer (crawler_order.h says who writes it).
    CrawlerOrder order_;
    // The rest is the thread's own.
    bool stop_ = false;
    std::optional<std::string> credentials_;  // Base64 user:password, for one run
    std::optional<std::string> scope_;        // where credentials_ go unasked
    CrawlerTally tally_;
    LinkList links_;
    std::optional<std::string> stored_type_;  // the fetched node's stored copy's type
    RecordedPageLinks recorded_links_;
    LinkCache link_cache_{recorded_links_};   // for the whole run
    const char* end_text_ = nullptr;          // a constant text, never freed
};

struct ThreadStart {
    CrawlerStart start;
    HANDLE queue_ready = nullptr;
};

DWORD WINAPI crawler_thread(void* param) {
    std::unique_ptr<ThreadStart> owned(static_cast<ThreadStart*>(param));
    // The queue first: no answer, report or stop request may be lost.
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    const CrawlerStart start = owned->start;
    SetEvent(owned->queue_ready);
    owned.reset();
    try {
        std::unique_ptr<Crawler> crawler(new Crawler(start));
        crawler->run();
    } catch (...) {
        // Out of memory: the run ends; the window must still hear of it.
        PostMessageA(start.window, AGM_END, 0, 0);
    }
    return 0;
}

}  // namespace

std::optional<CrawlerThread> start_crawler_thread(const CrawlerStart& start) {
    KernelHandle ready(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!ready) return std::nullopt;
    std::unique_ptr<ThreadStart> param(new (std::nothrow) ThreadStart{start, ready.get()});
    if (!param) return std::nullopt;
    CrawlerThread thread;
    thread.handle.reset(CreateThread(nullptr, 0, &crawler_thread, param.get(), 0, &thread.id));
    if (!thread.handle) return std::nullopt;
    param.release();  // the thread adopts it
    // Until its queue exists a stop request posted to it would be lost.
    WaitForSingleObject(ready.get(), INFINITE);
    return thread;
}

}  // namespace vellum
