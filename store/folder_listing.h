// The portable half of the kept folder listings (store/folder_listing_win.h
// says what they are for and when they are believed): the names of one
// folder indexed by their case-folded form, and the rule that says when a
// folder's timestamp can vouch for a listing. Pure data, no locking: the
// Win32 half keeps them under the store lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "store/recorded_page.h"

namespace vellum {

// A folder's last-write and creation times, in FILETIME units (100 ns). A
// folder deleted and made again has a creation time of its own, so the pair
// tells the new folder from the old one even where last-write times agree.
struct FolderStamp {
    std::uint64_t written = 0;
    std::uint64_t created = 0;
    friend bool operator==(const FolderStamp&, const FolderStamp&) = default;
};

// What a folder's timestamps have shown so far, and so how far they can be
// believed. A change that lands on a folder whose stamp was read within the
// same tick of the file system's clock leaves the stamp as it was; the rule
// below believes a stamp only where that can't happen:
//   - it was read at least kSettledTick after it was set: any later change
//     falls in a later tick of a clock that ticks at most every 15.6 ms
//     (Windows' longest; Linux's jiffy is 10 ms at most). A stamp in whole
//     units of 10 ms is taken for one of a file system that keeps only such
//     units or whole seconds (FAT's two seconds, exFAT's 10 ms, ext3's
//     seconds), and waits kSettledCoarse; a fine stamp falls on such a
//     unit once in 100,000, which only costs a listing; or
//   - the folder has shown a clock finer than any tick: kFineProofs times,
//     a write of ours got a stamp less than kFineGap after the one before it
//     (a coarse clock's stamps are whole ticks apart: a jiffy of 1 to 10 ms
//     on Linux, 1 to 15.6 ms on Windows unless a program has set its timer
//     to the finest 0.5 ms), and never did one of our writes leave the stamp
//     where it was. Linux since 6.13 gives a folder whose times were read a
//     stamp of its own at its next change, which shows this way.
class StampTrust {
public:
    static constexpr std::uint64_t kSettledTick = 320'000;      // 32 ms
    static constexpr std::uint64_t kSettledCoarse = 30'000'000;  // 3 s
    static constexpr std::uint64_t kCoarseUnit = 100'000;        // 10 ms
    static constexpr std::uint64_t kFineGap = 9'000;       // 0.9 ms
    static constexpr int kFineProofs = 3;

    // The stamp `stamp`, read at clock time `read_at`: true when a change
    // after `read_at` is bound to move it.
    bool settled(const FolderStamp& stamp, std::uint64_t read_at) const;

    // One write of ours that changed the folder, ended by clock time
    // `ended`, moved its stamp from `before` to `after`. True when `after`
    // can be taken for that write's alone: it moved forward and not past the
    // write's end (a later stamp is someone else's change, a stamp set back
    // someone's setting). A last-write time that did not move marks the
    // folder's clock as coarse for good.
    bool own_change(const FolderStamp& before, const FolderStamp& after, std::uint64_t ended);

    bool coarse() const { return coarse_; }

private:
    int fine_proofs_ = 0;
    bool coarse_ = false;
};

// One folder's names, looked up by prefix as FindFirstFileA(prefix "*")
// matches them: by the names' case-folded UTF-16 form, which the Win32 half
// computes (the file system's own upper-casing, after the ANSI code page's
// conversion).
struct ListedName {
    std::string name;  // as the listing reports it
    std::uint64_t size = 0;
    bool folder = false;
};

class FolderNames {
public:
    // Two names that fold the same (the Linux folder under Wine may hold
    // "a" and "A") make the folder ambiguous: which of them a call on one
    // of them reaches is the file system's business, so such a folder is
    // never answered from the kept names.
    void add(std::u16string key, ListedName name);
    // The name under `key`; none when there is none or more than one.
    const ListedName* find(const std::u16string& key) const;
    // Removes every name under `key`; how many there were.
    std::size_t remove(const std::u16string& key);
    // Every name whose key begins with `key_prefix`.
    std::vector<PageEntry> with_prefix(const std::u16string& key_prefix) const;

    std::size_t size() const { return names_.size(); }
    bool ambiguous() const { return ambiguous_; }
    void clear();

private:
    std::multimap<std::u16string, ListedName> names_;
    bool ambiguous_ = false;
};

}  // namespace vellum
