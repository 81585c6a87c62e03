#include "store/folder_listing.h"

#include <algorithm>

namespace vellum {

bool StampTrust::settled(const FolderStamp& stamp, std::uint64_t read_at) const {
    if (!coarse_ && fine_proofs_ >= kFineProofs) return true;
    const std::uint64_t newest = std::max(stamp.written, stamp.created);
    const bool coarse_units = stamp.written % kCoarseUnit == 0;
    return read_at >= newest && read_at - newest >= (coarse_units ? kSettledCoarse : kSettledTick);
}

bool StampTrust::own_change(const FolderStamp& before, const FolderStamp& after, std::uint64_t ended) {
    if (after.written == before.written) {
        // A change of ours left the last-write time as it was: the folder's
        // clock is coarser than our writes, and a change next to one of ours
        // can hide in the same tick.
        coarse_ = true;
        return false;
    }
    if (after.written < before.written || after.written > ended) return false;
    if (after.written - before.written < kFineGap) ++fine_proofs_;
    return true;
}

void FolderNames::add(std::u16string key, ListedName name) {
    if (names_.count(key) != 0) ambiguous_ = true;
    names_.emplace(std::move(key), std::move(name));
}

const ListedName* FolderNames::find(const std::u16string& key) const {
    if (names_.count(key) != 1) return nullptr;
    return &names_.find(key)->second;
}

std::size_t FolderNames::remove(const std::u16string& key) {
    return names_.erase(key);
}

std::vector<PageEntry> FolderNames::with_prefix(const std::u16string& key_prefix) const {
    std::vector<PageEntry> found;
    for (auto it = names_.lower_bound(key_prefix); it != names_.end(); ++it) {
        if (it->first.compare(0, key_prefix.size(), key_prefix) != 0) break;
        found.push_back(PageEntry{it->second.name, it->second.size, it->second.folder});
    }
    return found;
}

void FolderNames::clear() {
    names_.clear();
    ambiguous_ = false;
}

}  // namespace vellum
