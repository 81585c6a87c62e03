// The links of recorded pages, kept once extracted. Under the duplicate rule
// a page already fetched is expanded again from its stored copy each time it
// is reached at a shallower depth, dozens of times a page on a large site;
// each of those would list the page's folder, read the file and scan it
// again for the same links. The cache hands back the list it extracted the
// first time, as long as the stored copy is still the one it was read from.
//
// Owned by the crawler thread for one run and touched by that thread alone;
// it holds no handle and no lock, so the caller holds the store lock around
// links_of, as around any reading of a recorded page. What it appends is the
// caller's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>

#include "autoget/link_extractor.h"
#include "http/http_message.h"

namespace vellum {

// A link list packed into one buffer, each entry rebuilt exactly as the
// extractor gave it. Per entry: a byte of which URL fields are present (bit 7:
// isLink), a byte of which of those equal the previous entry's (scheme, host
// and port nearly always do), then each other present field as its length
// (7 bits a byte, low first) and its bytes. The documentation's pages pack to
// about a third of their URLs' text.
class PackedLinks {
public:
    // None when an entry's isLink is neither 0 nor 1, which the packing
    // would not give back.
    static std::optional<PackedLinks> pack(std::span<const LinkEntry> links);
    // Appends the entries, in their order.
    void unpack(LinkList& links) const;
    std::size_t count() const { return count_; }
    std::size_t bytes() const { return bytes_.size(); }

private:
    std::string bytes_;
    std::size_t count_ = 0;
};

// What says a stored copy is still the one read: taken from the open page
// file itself, and asked again of the file system by name before the kept
// links are used. A new recording moves a new file over the page (made and
// written at other times) even when its date and type keep the companion,
// so the companion alone would not tell.
struct PageIdentity {
    std::uint64_t size = 0;
    std::uint64_t writeTime = 0;     // FILETIME
    std::uint64_t creationTime = 0;  // FILETIME; a move keeps the moved file's
    std::string companion;           // the companion that made it a recorded page

    bool operator==(const PageIdentity&) const = default;
};

// One opened copy of a recorded page.
struct OpenedPage {
    std::unique_ptr<PageSource> source;    // reads the copy from its start
    std::optional<PageIdentity> identity;  // of that copy; none when it could not be taken
};

// The cache's seam to the store. The Win32 layer implements it over the page
// files (link_cache_win.h); tests supply pages of their own.
class LinkCachePages {
public:
    virtual ~LinkCachePages() = default;
    // The page recorded for `url`, as open_recorded_page finds it; none when
    // the URL has no recorded page.
    virtual std::optional<OpenedPage> open(const std::string& saveFolder, const ParsedUrl& url) = 0;
    // Whether the recorded page still is the copy `identity` was taken of,
    // asked without listing its folder or reading it.
    virtual bool unchanged(const std::string& saveFolder, const ParsedUrl& url, const PageIdentity& identity) = 0;
};

// What the kept pages may cost before the least recently used are let go:
// twenty times what Debian's Python documentation takes (526 pages, 1.4 MB).
inline constexpr std::size_t kLinkCacheBytes = std::size_t{32} << 20;

class LinkCache {
public:
    explicit LinkCache(LinkCachePages& pages, std::size_t byteLimit = kLinkCacheBytes)
        : pages_(pages), byteLimit_(byteLimit) {}
    LinkCache(const LinkCache&) = delete;
    LinkCache& operator=(const LinkCache&) = delete;

    // Appends the links of the page recorded for `url` in `saveFolder`,
    // exactly what scan_links over its stored copy appends now; nothing
    // when the URL has no recorded page. A copy that changed since its links
    // were kept is read again, and a copy that could not be read to its end
    // is never kept. Each way of reading a copy keeps its own list.
    void links_of(const std::string& saveFolder, const ParsedUrl& url, LinkList& links,
                  LinkScan scan = LinkScan::page);

    struct Counts {
        std::size_t hits = 0;         // kept links handed back
        std::size_t extractions = 0;  // stored copies read and scanned
        std::size_t evictions = 0;    // pages let go to stay within the limit
    };
    const Counts& counts() const { return counts_; }
    std::size_t pages() const { return index_.size(); }
    // What the kept pages cost, as counted against the limit.
    std::size_t bytes() const { return bytes_; }

private:
    struct Entry {
        std::string key;
        PageIdentity identity;
        PackedLinks links;
        std::size_t cost = 0;
    };
    using Order = std::list<Entry>;  // most recently used first

    void keep(std::string key, PageIdentity identity, PackedLinks links);
    void forget(Order::iterator entry);

    LinkCachePages& pages_;
    const std::size_t byteLimit_;
    Order order_;
    std::unordered_map<std::string_view, Order::iterator> index_;  // views of the entries' keys
    std::size_t bytes_ = 0;
    Counts counts_;
};

}  // namespace vellum
