// The link cache's seam over the page files: a recorded page opened as
// open_recorded_page finds it, and the identity of the copy opened, taken
// from its handle; later the page and its companion queried again by name,
// without the folder listing that finding a companion costs or opening the
// file (under Wine each of those takes about half a millisecond among a few
// hundred files, an attribute query a hundredth of that).
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
