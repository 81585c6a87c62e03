// The crawler's decisions, apart from its thread: the request block it sends
// to the program's own proxy port, what it does with a stored copy before it
// asks for a page, how a fetch becomes a result, and the counting of
// retries and redirects over a run. (Where accepted credentials are sent
// again is cookies/credentials.h.)
//
// Pure functions and one small value type; the crawler thread calls them, the
// tests call them without any thread. Everything returned is a new value the
// caller owns.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "autoget/link_extractor.h"
#include "http/http_message.h"

namespace vellum {

// The end text of a run that met three redirects in a row.
inline constexpr char kRedirectLimitText[] = "３回連続して移転通知を受信しました";
// Consecutive redirected nodes that end a run.
inline constexpr int kRedirectLimit = 3;

// What a fetch gives the page tree: 2 HTML, 1 other text, 3 image, 4 video,
// 5 other content type, 100 a stored copy without content type, 0 nothing
// done, any other positive value an HTTP status, a negative value the
// negated failure code.
namespace fetch_failure {
inline constexpr int kCannotSend = 1;     // no block, no socket, no connection, no answer
inline constexpr int kCutByStop = 100;    // the user's immediate stop cut the transfer
inline constexpr int kAuthRefused = 401;  // the server refused the credentials sent
inline constexpr int kFatal = 1000;       // this and above end the run
}  // namespace fetch_failure

// The lines of one crawler request, as fetch_page fills them in.
struct CrawlerRequest {
    ParsedUrl url;                             // the node's URL
    std::string saveFolder;                    // the job's save folder
    std::optional<std::string> referer;        // the parent's URL, or the job's Referer for a base node
    std::optional<std::string> userAgent;      // the job's User-Agent
    std::optional<std::string> authorization;  // Base64 credentials
};

// The whole header block, every line ending in CR LF, in one text:
//   "GET " url " HTTP/1.0", "Vellum-Mode: RecMode", "Vellum-LocalPath: "
//   folder, "Accept: */*", ["Referer: " ...], ["User-Agent: " ...],
//   "Host: " host[:port], ["Authorization: Basic " ...], "".
// None when the URL has no text or no host, or when any text would break a
// line: a CR, LF or NUL in a field would let a page's link smuggle in lines
// of its own (a save folder of its choosing among them).
std::optional<std::string> build_crawler_request(const CrawlerRequest& request);

// What fetch_page does about a stored copy of the page before any request.
enum class StoredCopyUse {
    request,             // ask the proxy for the page
    answer_from_copy,    // no request: the copy stands, as if answered 304
};
// updateCheck 0 never asks again, 2 always does, 1 asks again only for a copy
// whose type begins with "text/html". A copy of any other type under 1 is
// taken as it stands, like a copy under 0, so that a stored image shows as
// done instead of waiting for ever.
StoredCopyUse stored_copy_use(int updateCheck, const std::optional<std::string>& content_type);

// The fetch result of a completed request or a copy taken as it stands: for
// status 200 or 304 with a stored copy, the copy's content class; otherwise
// the status itself.
int classify_fetch(int status, bool stored, const std::optional<std::string>& content_type);

// Whether a node's links are read from its stored copy, and how: an HTML
// page (result 2) without children is read as a page, with its requisites
// when the job asks for them (`pageRequisites` 1); with them, a stylesheet
// (result 1, type "text/css") without children is read for its references
// too. None for anything else, which gives no links.
std::optional<LinkScan> link_scan_for(int result, bool hasChildren, int pageRequisites,
                                      const std::optional<std::string>& content_type);

// Retry and redirect counting over one run (the crawler thread's loop).
class CrawlerTally {
public:
    // Takes a node's fetch result and returns the one to report: a failure
    // of code 1-99 while fewer than `retryCount` retries were used becomes 0
    // and counts one more retry; anything else ends the node's retries. A
    // redirect (300-399 but 304) counts towards the limit, anything else
    // starts the count again.
    int settle(int result, int retryCount);
    // The last node is to be fetched again after the retry wait.
    bool retry_pending() const { return retries_ > 0; }
    bool redirect_limit_reached() const { return redirects_ >= kRedirectLimit; }
    int retries_used() const { return retries_; }

private:
    int retries_ = 0;
    int redirects_ = 0;
};

// A result that ends the run (a fatal failure of the proxy engine).
inline bool ends_run(int result) { return result <= -fetch_failure::kFatal; }

}  // namespace vellum
