// The link cache's seam over the page files: a recorded page opened as
// open_recorded_page finds it, and the identity of the copy opened, taken
// from its handle; later the same file queried again by name, without the
// folder listing that finding a page's companion costs (under Wine that
// reads the whole folder, about a millisecond among a few hundred files).
//
// The crawler thread's, beside its LinkCache; callers hold the store lock.
#pragma once

#include "autoget/link_cache.h"

namespace vellum {

class RecordedPageLinks : public LinkCachePages {
public:
    std::optional<OpenedPage> open(const std::string& saveFolder, const ParsedUrl& url) override;
    bool unchanged(const std::string& saveFolder, const ParsedUrl& url, const PageIdentity& identity) override;
};

}  // namespace vellum
