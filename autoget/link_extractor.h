// Link extraction: the URLs a recorded HTML page refers to, hyperlinks (one
// link level deeper) and embedded resources (part of the page), found by a
// small tag scanner that looks only at the attributes of two fixed tables
// and resolves each value against the page's URL or a BASE HREF.
//
// Pure functions; the crawler thread calls them while it holds the store
// lock. The page comes through a PageSource, which the Win32 layer implements
// over the open page file; the scanner reads it in large blocks. Entries are
// new values the caller owns.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "http/http_message.h"

namespace vellum {

struct LinkEntry {
    ParsedUrl url;   // absolute "http" or "https" URL, never a fragment
    int isLink = 0;  // 1 hyperlink, 0 embedded resource
};
using LinkList = std::vector<LinkEntry>;

// The stored page, read forward from its start. Owned by the caller.
class PageSource {
public:
    virtual ~PageSource() = default;
    // Up to `size` bytes: the count (> 0), 0 at the end, < 0 on a read error.
    virtual int read(char* buffer, int size) = 0;
};

// A page held in memory, handed out at most `chunk` bytes per read.
class MemoryPageSource : public PageSource {
public:
    explicit MemoryPageSource(std::string_view bytes, std::size_t chunk = static_cast<std::size_t>(-1))
        : bytes_(bytes), chunk_(chunk == 0 ? 1 : chunk) {}
    int read(char* buffer, int size) override;

private:
    std::string_view bytes_;
    std::size_t position_ = 0;
    std::size_t chunk_;
};

// Texts the scanner holds (tag name, attribute name, value) are refused at
// this length.
inline constexpr std::size_t kTagTextLimit = 260;

// Appends the page's links in document order. Stops silently at the end of
// the page, on a read error, at a tag that never closes, and at a tag name of
// kTagTextLimit bytes or more, keeping the entries found before.
void extract_links(PageSource& page, const ParsedUrl& pageUrl, LinkList& links);

// The length of the tag that starts just after a "<", up to and including
// the byte that closes it; 0 when `after_lt` ends first. A tag opening with
// "!--" is a comment, closed only by a ">" after two or more "-".
std::size_t tag_length(std::string_view after_lt);

// `relative` made absolute against `base`: none when either is missing, the
// scheme is neither "http" nor "https", there is no host, `relative` has no path, or a
// relative path meets a base path that does not start with "/". Dot segments
// of a relative path are resolved, never above "/". No fragment.
std::optional<ParsedUrl> resolve_url(const ParsedUrl* base, const ParsedUrl* relative);

}  // namespace vellum
