#include "store/folder_listing_win.h"

#include <iterator>
#include <list>

#include "base/lead_byte.h"
#include "store/folder_listing.h"
#include "store/store_lock_win.h"

extern "C" __declspec(dllimport) WCHAR NTAPI RtlUpcaseUnicodeChar(WCHAR source);

namespace vellum {
namespace {

using ClockTime = std::uint64_t;

std::uint64_t file_time(const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// The stamps come from the system clock at the instant of each change, so the
// end of a write must be read from a clock at least as fine: the precise one
// where the system has it (Windows 8 and later, and Wine), the tick otherwise
// (which only makes more stamps look later than the write, and so listed
// afresh).
ClockTime clock_now() {
    using PreciseTime = void(WINAPI*)(LPFILETIME);
    static const PreciseTime precise = reinterpret_cast<PreciseTime>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetSystemTimePreciseAsFileTime")));
    FILETIME now;
    if (precise) {
        precise(&now);
    } else {
        GetSystemTimeAsFileTime(&now);
    }
    return file_time(now);
}

// The folder part of a path, up to and including its last backslash.
std::string folder_of(const std::string& path) {
    long slash = find_last_single_byte(path.data(), static_cast<long>(path.size()), '\\');
    return slash < 0 ? std::string() : path.substr(0, static_cast<std::size_t>(slash) + 1);
}

std::string file_name_part(const std::string& path) {
    return path.substr(folder_of(path).size());
}

std::wstring wide(const std::string& text) {
    wchar_t buffer[2 * MAX_PATH];
    const int size = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), buffer,
                                         static_cast<int>(std::size(buffer)));
    if (size > 0 || text.empty()) return std::wstring(buffer, static_cast<std::size_t>(size));
    // Longer than any path the store makes; converted the slow way.
    const int needed = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring converted(static_cast<std::size_t>(needed), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), converted.data(), needed);
    return converted;
}

// A name as FindFirstFileA reports it: the ANSI name's UTF-16 form brought
// back to ANSI (code page 932 maps some characters from two byte pairs, and
// the listing gives the one the conversion back picks).
std::string as_listed(const std::string& name) {
    const std::wstring converted = wide(name);
    if (converted.empty()) return {};
    const int size = WideCharToMultiByte(CP_ACP, 0, converted.data(), static_cast<int>(converted.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string back(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, converted.data(), static_cast<int>(converted.size()), back.data(), size, nullptr,
                        nullptr);
    return back;
}

// How the file system compares names: UTF-16, upper-cased by its own table
// (read once: a listing folds every name of the folder).
std::u16string fold(const std::string& name) {
    static const std::u16string upper = [] {
        std::u16string table(0x10000, u'\0');
        for (std::size_t c = 0; c < table.size(); ++c) {
            table[c] = static_cast<char16_t>(RtlUpcaseUnicodeChar(static_cast<WCHAR>(c)));
        }
        return table;
    }();
    const std::wstring converted = wide(name);
    std::u16string key(converted.size(), u'\0');
    for (std::size_t i = 0; i < converted.size(); ++i) key[i] = upper[static_cast<std::uint16_t>(converted[i])];
    return key;
}

std::optional<FolderStamp> read_stamp(const std::string& folder) {
    std::string path = folder;
    // "C:\" names the root; any other folder is asked for without its
    // backslash.
    if (path.size() > 3 && path.back() == '\\') path.pop_back();
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return std::nullopt;
    return FolderStamp{file_time(data.ftLastWriteTime), file_time(data.ftCreationTime)};
}

// Only a local disk stamps its folders with this machine's clock, which the
// settling rule compares them with; a share's server keeps its own time.
bool on_local_disk(const std::string& folder) {
    if (folder.size() < 3 || folder[1] != ':' || folder[2] != '\\') return false;  // a share's \\server\...
    const char letter = static_cast<char>(folder[0] & ~0x20);
    if (letter < 'A' || letter > 'Z') return false;
    static int drive_kinds[26] = {};  // under the store lock; 0 until asked
    int& kind = drive_kinds[letter - 'A'];
    if (kind == 0) {
        const char root[] = {letter, ':', '\\', '\0'};
        const UINT type = GetDriveTypeA(root);
        kind = type == DRIVE_FIXED || type == DRIVE_RAMDISK ? 1 : 2;
    }
    return kind == 1;
}

struct KeptFolder {
    std::u16string key;  // the folder's path, folded
    std::string path;    // with its final backslash
    // `names` agree with the folder as of `stamp`, read at `stamp_read_at`,
    // save for a change that may have shared the stamp's tick: they answer
    // once `trust` says none could have (a proof of a fine clock, which our
    // later writes may bring, counts for the time before it too).
    bool valid = false;
    FolderStamp stamp;
    ClockTime stamp_read_at = 0;
    bool unkeepable = false;  // too big to keep, two names that fold alike, or not on a local disk
    StampTrust trust;
    FolderNames names;

    bool answers(const FolderStamp& now) const {
        return valid && stamp == now && trust.settled(stamp, stamp_read_at);
    }
};

// Everything below is touched only under the store lock.
std::list<KeptFolder> g_kept;  // most recently used first
std::size_t g_listings = 0;
std::size_t g_answered = 0;

std::size_t kept_names() {
    std::size_t names = 0;
    for (const KeptFolder& folder : g_kept) names += folder.names.size();
    return names;
}

void drop_least_used() {
    while (g_kept.size() > 1 && (g_kept.size() > kKeptFolders || kept_names() > kKeptNames)) g_kept.pop_back();
}

KeptFolder* find_kept(const std::u16string& key) {
    for (KeptFolder& folder : g_kept) {
        if (folder.key == key) return &folder;
    }
    return nullptr;
}

KeptFolder& use_kept(const std::string& folder) {
    const std::u16string key = fold(folder);
    for (auto it = g_kept.begin(); it != g_kept.end(); ++it) {
        if (it->key == key) {
            g_kept.splice(g_kept.begin(), g_kept, it);
            return g_kept.front();
        }
    }
    g_kept.emplace_front();
    KeptFolder& kept = g_kept.front();
    kept.key = key;
    kept.path = folder;
    kept.unkeepable = !on_local_disk(folder);
    drop_least_used();
    return kept;
}

// Lists the folder afresh into `kept`, whose stamp read just before was
// `stamp` at clock time `read_at`. False when the listing can't answer for
// the folder (too big to keep, or two names that fold alike).
bool list_afresh(KeptFolder& kept, const FolderStamp& stamp, ClockTime read_at) {
    ++g_listings;
    kept.names.clear();
    kept.valid = false;
    WIN32_FIND_DATAA data;
    FindHandle search(FindFirstFileA((kept.path + "*").c_str(), &data));
    if (!search) return false;
    do {
        if (kept.names.size() >= kKeptNames) {
            kept.names.clear();
            kept.unkeepable = true;
            return false;
        }
        ListedName name{data.cFileName, (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow,
                        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0};
        std::u16string key = fold(name.name);
        kept.names.add(std::move(key), std::move(name));
    } while (FindNextFileA(search.get(), &data));
    if (GetLastError() != ERROR_NO_MORE_FILES) {
        kept.names.clear();
        return false;
    }
    if (kept.names.ambiguous()) {
        kept.names.clear();
        kept.unkeepable = true;
        return false;
    }
    kept.stamp = stamp;
    kept.stamp_read_at = read_at;
    kept.valid = true;
    drop_least_used();
    return true;
}

// One folder's side of a write of ours: the kept folder (whose clock the
// write shows something of), its stamp just before, and whether the write is
// to be taken into its names (they were valid and nobody changed the folder
// since).
struct Watch {
    KeptFolder* folder = nullptr;
    FolderStamp before;
    bool names = false;
};

Watch watch(const std::string& path) {
    if (!store_lock_held_here()) return {};
    const std::string folder = folder_of(path);
    if (folder.empty()) return {};
    KeptFolder* kept = find_kept(fold(folder));
    if (!kept || kept->unkeepable) return {};
    const std::optional<FolderStamp> stamp = read_stamp(folder);
    if (!stamp) {
        kept->valid = false;
        return {};
    }
    if (kept->valid && !(*stamp == kept->stamp)) kept->valid = false;
    return Watch{kept, *stamp, kept->valid};
}

// After the write, which ended by clock time `ended`: `changed` when it
// added, removed or renamed a name (the folder's stamp must have moved for
// it, and for nothing else), false when it left the names as they were (the
// stamp must not have moved). True when the kept names may take it in.
bool settle(Watch& w, bool changed, ClockTime ended) {
    if (!w.folder) return false;
    KeptFolder& kept = *w.folder;
    const std::optional<FolderStamp> after = read_stamp(kept.path);
    const ClockTime read_at = clock_now();
    bool ours = false;
    // What the write shows of the folder's clock counts whether or not the
    // names follow it.
    if (after) ours = changed ? kept.trust.own_change(w.before, *after, ended) : *after == w.before;
    if (!ours || !w.names) {
        kept.valid = false;
        w.names = false;
        return false;
    }
    kept.stamp = *after;
    kept.stamp_read_at = read_at;
    return true;
}

// The kept name a path names, or none when the folder holds no such name.
const ListedName* kept_name(const Watch& w, const std::string& path) {
    return w.folder->names.find(fold(file_name_part(path)));
}

}  // namespace

std::optional<std::vector<PageEntry>> kept_listing_beside(const std::string& page_path) {
    if (!store_lock_held_here()) return std::nullopt;
    const std::string folder = folder_of(page_path);
    if (folder.empty()) return std::nullopt;
    const std::optional<FolderStamp> stamp = read_stamp(folder);
    const ClockTime read_at = clock_now();
    if (!stamp) return std::nullopt;
    KeptFolder& kept = use_kept(folder);
    if (kept.unkeepable) return std::nullopt;
    if (kept.answers(*stamp)) {
        ++g_answered;
    } else {
        // A full listing costs several listings of P "*" (Wine reads every
        // entry's attributes for it): it is made only when the names it
        // brings will answer the next look-up too. Until then the caller
        // lists P "*" as ever, and kept names still valid follow our writes.
        if (kept.valid && !(kept.stamp == *stamp)) kept.valid = false;
        if (!kept.trust.settled(*stamp, read_at)) return std::nullopt;
        if (!list_afresh(kept, *stamp, read_at)) return std::nullopt;
    }

    std::vector<PageEntry> entries = kept.names.with_prefix(fold(file_name_part(page_path)));
    // Sizes (whether a companion or a marker is empty) and kinds are read
    // from the files themselves: a change of content moves no stamp.
    for (PageEntry& entry : entries) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExA((folder + entry.name).c_str(), GetFileExInfoStandard, &data)) {
            kept.valid = false;  // a kept name that is gone: the kept names are wrong
            return std::nullopt;
        }
        entry.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        entry.folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    return entries;
}

BOOL store_move_file(const std::string& from, const std::string& to, DWORD flags) {
    const bool same_folder = fold(folder_of(from)) == fold(folder_of(to));
    Watch source = watch(from);
    Watch target = same_folder ? Watch{} : watch(to);
    std::optional<ListedName> moving;
    if (source.names) {
        if (const ListedName* name = kept_name(source, from)) moving = *name;
    }

    const BOOL moved = MoveFileExA(from.c_str(), to.c_str(), flags);
    const DWORD error = GetLastError();
    const ClockTime ended = clock_now();

    const bool source_kept = settle(source, moved != 0, ended);
    const bool target_kept = same_folder ? source_kept : settle(target, moved != 0, ended);
    if (moved) {
        KeptFolder* left = source_kept ? source.folder : nullptr;
        KeptFolder* placed = same_folder ? left : (target_kept ? target.folder : nullptr);
        if (left && (!moving || left->names.remove(fold(file_name_part(from))) != 1)) {
            left->valid = false;
            if (same_folder) placed = nullptr;
        }
        if (placed) {
            const std::u16string key = fold(file_name_part(to));
            const std::string listed = as_listed(file_name_part(to));
            const ListedName* standing = placed->names.find(key);
            if (standing && standing->name != listed) {
                // It replaced a name of another case, and which of the two
                // stands now is the file system's choice.
                placed->valid = false;
            } else {
                // Its size and kind are read afresh at each look-up.
                placed->names.remove(key);
                placed->names.add(key, ListedName{listed, moving ? moving->size : 0, moving && moving->folder});
            }
        }
    }
    SetLastError(error);
    return moved;
}

BOOL store_delete_file(const std::string& path) {
    Watch w = watch(path);
    if (w.names && w.folder->trust.settled(w.folder->stamp, w.folder->stamp_read_at) && !kept_name(w, path)) {
        // Under Wine a name that isn't there is looked for through the whole
        // folder, case by case; the kept names already say it isn't.
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    const BOOL deleted = DeleteFileA(path.c_str());
    const DWORD error = GetLastError();
    const ClockTime ended = clock_now();
    if (settle(w, deleted != 0, ended) && deleted && w.folder->names.remove(fold(file_name_part(path))) != 1) {
        w.folder->valid = false;
    }
    SetLastError(error);
    return deleted;
}

FileHandle store_create_file(const std::string& path, DWORD access, DWORD share, DWORD disposition,
                             DWORD flags_and_attributes) {
    Watch w = watch(path);
    FileHandle file(CreateFileA(path.c_str(), access, share, nullptr, disposition, flags_and_attributes, nullptr));
    const DWORD error = GetLastError();
    const ClockTime ended = clock_now();
    // CREATE_ALWAYS and OPEN_ALWAYS on a name that stands report
    // ERROR_ALREADY_EXISTS: no name was added.
    const bool added = file.valid() && error != ERROR_ALREADY_EXISTS && disposition != OPEN_EXISTING &&
                       disposition != TRUNCATE_EXISTING;
    if (w.folder) {
        const std::u16string key = fold(file_name_part(path));
        const bool known = w.names && w.folder->names.find(key) != nullptr;
        if (settle(w, added, ended)) {
            if (added && !known) {
                w.folder->names.add(key, ListedName{as_listed(file_name_part(path)), 0, false});
            } else if (added || (file.valid() && !known)) {
                w.folder->valid = false;  // the kept names and the file system disagree
            }
        }
    }
    SetLastError(error);
    return file;
}

KeptListingCounts kept_listing_counts() {
    return KeptListingCounts{g_listings, g_answered, g_kept.size(), kept_names()};
}

void forget_kept_listings() {
    g_kept.clear();
    g_listings = 0;
    g_answered = 0;
}

}  // namespace vellum
