// Kept listings of the store's folders, so that looking up a recorded page
// costs the same in a folder of 4,000 files as in one of 20. Under Wine a
// listing of P "*" reads every entry of the folder and makes up each one's
// short name (0.7 ms among 200 files, 1.6 ms among 4,000), and a recorded
// page is looked up three to five times (its look-ups, its commit, tidying).
//
// The listing of a folder is read once, kept, and then changed by the store's
// own writes as they are made (the wrappers below: receiving files, staged
// bodies, markers, companions, pages, redirect files, deletions). A look-up
// reads the folder's timestamp (one attribute query) and answers from the
// kept names only while that stamp is the one the kept names agree with:
//   - another program's change to a name moves the stamp, and the next
//     look-up lists the folder afresh;
//   - a change of a file's content moves nothing, so nothing is decided from
//     a kept size: each name beside the page (two or three) is asked for its
//     size and kind at every look-up, and the page's own size comes from the
//     handle open_recorded_page opens; a kept name found gone sends the
//     look-up back to a listing of its own;
//   - a stamp is believed only where a change can't hide in the same tick of
//     the file system's clock (StampTrust in store/folder_listing.h: an old
//     enough stamp, or a clock our own writes showed to be finer than any
//     tick), and only on a local disk, whose stamps come from this machine's
//     clock;
//   - a write of ours is taken into the kept names only when the stamp just
//     before it was the kept one and the write moved it forward, to no later
//     than the write's end; a failed write must leave the stamp as it was;
//     anything else (a write that failed part way, a stamp that did not
//     move, a later stamp, a folder gone or made again, a target that stood
//     under another case) drops the kept names.
// A full listing costs several listings of P "*" (Wine reads every entry's
// attributes for it, 15 ms among 4,000 files), so one is made only when the
// names it brings will answer the next look-up too; until then a look-up
// lists P "*". A change another program makes inside the instant
// of one of our writes (between the stamp read before it and the write's
// end, tens of microseconds) can't be told from ours and is seen at the
// folder's next change that is not ours.
//
// Kept names are answered exactly as the listing of P "*" would, by their
// long names compared as the file system compares them (upper-cased UTF-16);
// a folder holding two names that differ only in case is never answered
// from kept names. At most kKeptFolders folders and kKeptNames names in all
// are kept, the least recently used dropped first; a bigger folder is not
// kept at all.
//
// Every function here keeps or reads the listings only on the thread that
// holds the store lock (store/store_lock_win.h); without it each is the
// plain Win32 call, and kept_listing_beside answers none.
#pragma once

#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "base/win_handles.h"
#include "store/recorded_page.h"

namespace vellum {

inline constexpr std::size_t kKeptFolders = 8;
inline constexpr std::size_t kKeptNames = 32'768;

// What a listing of `page_path` "*" holds (every name beside the page that
// its file name begins, with sizes and kinds read from the files just now),
// from the kept listing of its folder; none when the caller must list P "*"
// itself.
std::optional<std::vector<PageEntry>> kept_listing_beside(const std::string& page_path);

// The Win32 calls, with the kept listings kept in step. Each leaves
// GetLastError as the call left it. store_delete_file of a name the kept
// listing vouches is not there makes no call and reports
// ERROR_FILE_NOT_FOUND: under Wine the call would search the whole folder.
BOOL store_move_file(const std::string& from, const std::string& to, DWORD flags);
BOOL store_delete_file(const std::string& path);
// CreateFileA with no security attributes and no template.
FileHandle store_create_file(const std::string& path, DWORD access, DWORD share, DWORD disposition,
                             DWORD flags_and_attributes);

// For tests and the benchmark: the full listings made so far, what is kept,
// and forgetting it all (under the store lock).
struct KeptListingCounts {
    std::size_t listings = 0;  // full listings of a folder
    std::size_t answered = 0;  // look-ups answered from kept names alone
    std::size_t folders = 0;
    std::size_t names = 0;
};
KeptListingCounts kept_listing_counts();
void forget_kept_listings();

}  // namespace vellum
