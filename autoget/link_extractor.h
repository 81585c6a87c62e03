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
//
// With `pageRequisites` it also reports, as embedded resources, what the page
// needs to be displayed: LINK HREF whose REL holds the word "stylesheet" or
// "icon", SCRIPT SRC, every candidate of IMG and SOURCE SRCSET, VIDEO
// POSTER, OBJECT DATA and IFRAME SRC (a page, as FRAME SRC is). Without it
// the entries are exactly those of the two tables.
void extract_links(PageSource& page, const ParsedUrl& pageUrl, LinkList& links, bool pageRequisites = false);

// A SRCSET value may list many candidates, so with pageRequisites it is
// refused only at this length; each candidate's URL still at kTagTextLimit.
inline constexpr std::size_t kSrcsetTextLimit = 4096;

// The URLs of a SRCSET value's candidates, in order, descriptors dropped.
std::vector<std::string_view> srcset_candidates(std::string_view value);

// Appends the references of a stylesheet, resolved against its URL, as
// embedded resources in order: each url() and each @import, whether written
// as a string or as url(). Comments are skipped, strings and escapes read as
// CSS reads them; a lead byte of a two-byte character takes the byte after
// it (unless that is below 0x40), so a trail byte is never a backslash or the
// start of a word. A reference of kTagTextLimit bytes or more, or one with an
// escape of a character beyond ASCII, is dropped. Only the first
// kStylesheetLimit bytes are read; a read error ends the reading, and what
// was read is scanned.
void extract_stylesheet_links(PageSource& sheet, const ParsedUrl& sheetUrl, LinkList& links);
inline constexpr std::size_t kStylesheetLimit = std::size_t{8} << 20;

// The references of a stylesheet's text as written, escapes undone and
// surrounding white space removed, in order: what extract_stylesheet_links
// resolves.
std::vector<std::string> stylesheet_references(std::string_view sheet);

// How a stored copy is read for its links.
enum class LinkScan : unsigned char {
    page,                // an HTML page: the two tables
    page_with_requisites,  // an HTML page: the tables and what it needs to be displayed
    stylesheet,          // a stylesheet fetched as a page requisite
};
void scan_links(PageSource& source, const ParsedUrl& url, LinkScan scan, LinkList& links);

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
