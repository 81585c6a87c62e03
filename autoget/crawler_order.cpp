#include "autoget/crawler_order.h"

#include "autoget/page_tree.h"
#include "http/url_text.h"

namespace vellum {

CrawlerOrder crawler_order_for(const PageNode& node) {
    CrawlerOrder order;
    if (node.job()) order.job = *node.job();
    order.url = node.urlRecord();
    order.urlText = node.url();
    if (!node.is_base() && node.parent()) order.parentUrl = node.parent()->url();
    order.result = node.result();
    order.hasChildren = node.firstChild() != nullptr;
    return order;
}

std::optional<std::string> crawler_referer(const CrawlerOrder& order) {
    if (order.parentUrl) return order.parentUrl;
    if (order.job.referer) return url_text(*order.job.referer);
    return std::nullopt;
}

}  // namespace vellum
