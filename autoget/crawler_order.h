// The crawler thread's job buffer: what it needs to know of the node it is
// handed, copied out of the page tree by the auto-get window before it
// answers AGM_NEXT or AGM_RETRY. The thread then reads this copy alone and
// never the tree, which the UI thread goes on changing while the page is
// fetched.
//
// Who writes it: the crawler thread owns the buffer; the auto-get window
// writes it only while the thread waits for the answer to the AGM_NEXT or
// AGM_RETRY that carried its address; the thread reads it after the answer.
#pragma once

#include <optional>
#include <string>

#include "autoget/autoget_job.h"
#include "http/http_message.h"

namespace vellum {

class PageNode;

struct CrawlerOrder {
    AutoGetJob job;                         // a copy of the node's base-URL job
    ParsedUrl url;                          // the node's URL record
    std::string urlText;                    // the node's url
    std::optional<std::string> parentUrl;   // the parent's url; none for a base node
    int result = 0;                         // the node's result when it was handed out
    bool hasChildren = false;               // its links were added already
};

// The order for `node`, which is in a page tree.
CrawlerOrder crawler_order_for(const PageNode& node);

// The Referer the crawler sends for the order: the parent's URL, or the
// job's Referer for a base node; none when there is none.
std::optional<std::string> crawler_referer(const CrawlerOrder& order);

}  // namespace vellum
