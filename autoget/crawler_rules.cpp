#include "autoget/crawler_rules.h"

#include "autoget/url_match.h"
#include "http/url_text.h"
#include "proxy/content_kind.h"

namespace vellum {
namespace {

bool breaks_line(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool type_begins_with(const std::optional<std::string>& type, std::string_view prefix) {
    return type && type->size() >= prefix.size() && equal_ignoring_case(std::string_view(*type).substr(0, prefix.size()), prefix);
}

}  // namespace

std::optional<std::string> build_crawler_request(const CrawlerRequest& request) {
    const std::optional<std::string> url = url_text(request.url);
    const std::optional<std::string> host = url_host_port(request.url);
    if (!url || !host) return std::nullopt;
    for (const std::optional<std::string>* field : {&request.referer, &request.userAgent, &request.authorization}) {
        if (*field && breaks_line(**field)) return std::nullopt;
    }
    if (breaks_line(*url) || breaks_line(*host) || breaks_line(request.saveFolder)) return std::nullopt;

    std::string block = "GET " + *url + " HTTP/1.0\r\n";
    block += "Vellum-Mode: RecMode\r\n";
    block += "Vellum-LocalPath: " + request.saveFolder + "\r\n";
    block += "Accept: */*\r\n";
    if (request.referer) block += "Referer: " + *request.referer + "\r\n";
    if (request.userAgent) block += "User-Agent: " + *request.userAgent + "\r\n";
    block += "Host: " + *host + "\r\n";
    if (request.authorization) block += "Authorization: Basic " + *request.authorization + "\r\n";
    block += "\r\n";
    return block;
}

StoredCopyUse stored_copy_use(int updateCheck, const std::optional<std::string>& content_type) {
    if (updateCheck == 0) return StoredCopyUse::answer_from_copy;
    if (updateCheck == 1 && !type_begins_with(content_type, "text/html")) return StoredCopyUse::answer_from_copy;
    return StoredCopyUse::request;
}

int classify_fetch(int status, bool stored, const std::optional<std::string>& content_type) {
    if ((status != 200 && status != 304) || !stored) return status;
    switch (content_kind(content_type)) {
    case 2: return 2;    // text/html
    case 3: return 3;    // image/
    case 4: return 4;    // video/
    case 5: return 1;    // other text/
    case 1: return 5;    // any other type
    default: return 100; // no type
    }
}

std::optional<LinkScan> link_scan_for(int result, bool hasChildren, int pageRequisites,
                                      const std::optional<std::string>& content_type) {
    if (hasChildren) return std::nullopt;
    if (result == 2) return pageRequisites != 0 ? LinkScan::page_with_requisites : LinkScan::page;
    if (result != 1 || pageRequisites == 0 || !type_begins_with(content_type, "text/css")) return std::nullopt;
    // "text/css" itself, or with parameters: not "text/cssx".
    const std::string_view rest = std::string_view(*content_type).substr(8);
    if (!rest.empty() && rest.front() != ';' && rest.front() != ' ' && rest.front() != '\t') return std::nullopt;
    return LinkScan::stylesheet;
}

int CrawlerTally::settle(int result, int retryCount) {
    if (result > 0) retries_ = 0;
    if (result >= 300 && result <= 399 && result != 304) {
        ++redirects_;
    } else {
        redirects_ = 0;
    }
    if (result <= -1 && result >= -99 && retries_ < retryCount) {
        ++retries_;
        return 0;
    }
    retries_ = 0;
    return result;
}

}  // namespace vellum
