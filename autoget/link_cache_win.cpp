#include "autoget/link_cache_win.h"

#include <windows.h>

#include "base/win_handles.h"
#include "store/recorded_page.h"
#include "store/recorded_page_win.h"
#include "store/url_map.h"

namespace vellum {
namespace {

// The page file as the link extractor reads it: the extractor asks for
// large blocks, so each read is one ReadFile of a whole block.
class FilePageSource : public PageSource {
public:
    explicit FilePageSource(FileHandle file) : file_(std::move(file)) {}
    int read(char* buffer, int size) override {
        DWORD got = 0;
        if (!ReadFile(file_.get(), buffer, static_cast<DWORD>(size), &got, nullptr)) return -1;
        return static_cast<int>(got);
    }

private:
    FileHandle file_;
};

std::uint64_t joined(DWORD high, DWORD low) {
    return (static_cast<std::uint64_t>(high) << 32) | low;
}

std::uint64_t joined(const FILETIME& time) {
    return joined(time.dwHighDateTime, time.dwLowDateTime);
}

// The open page's size and times. Not GetFileInformationByHandle: under
// Wine its volume serial costs more than reading and scanning a page.
std::optional<PageIdentity> identity_of(HANDLE file) {
    LARGE_INTEGER size;
    FILETIME created, accessed, written;
    if (!GetFileSizeEx(file, &size) || !GetFileTime(file, &created, &accessed, &written)) return std::nullopt;
    PageIdentity identity;
    identity.size = static_cast<std::uint64_t>(size.QuadPart);
    identity.writeTime = joined(written);
    identity.creationTime = joined(created);
    return identity;
}

}  // namespace

std::optional<OpenedPage> RecordedPageLinks::open(const std::string& saveFolder, const ParsedUrl& url) {
    std::optional<RecordedPage> page = open_recorded_page(saveFolder, url);
    if (!page) return std::nullopt;
    OpenedPage opened;
    opened.identity = identity_of(page->file.get());
    // The companion's name comes back from the header it was read into; a
    // name that does not come back exactly is never found again, and the
    // page is only read afresh each time, as without the cache.
    std::optional<std::string> companion =
        page->header ? companion_file_name(saveFolder, url, *page->header) : std::nullopt;
    if (opened.identity && companion) {
        opened.identity->companion = std::move(*companion);
    } else {
        opened.identity.reset();
    }
    opened.source = std::make_unique<FilePageSource>(std::move(page->file));
    return opened;
}

bool RecordedPageLinks::unchanged(const std::string& saveFolder, const ParsedUrl& url, const PageIdentity& identity) {
    const std::optional<std::string> store_path = url_store_path(saveFolder, url);
    if (!store_path) return false;
    // One attribute query by name: under Wine it costs a stat of the file,
    // where opening the file took as long as listing its folder (about half
    // a millisecond each, measured among 600 files).
    WIN32_FILE_ATTRIBUTE_DATA now;
    if (!GetFileAttributesExA(store_path->c_str(), GetFileExInfoStandard, &now)) return false;
    if ((now.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        joined(now.nFileSizeHigh, now.nFileSizeLow) != identity.size ||
        joined(now.ftLastWriteTime) != identity.writeTime || joined(now.ftCreationTime) != identity.creationTime) {
        return false;
    }
    // Without its companion the page is no longer recorded.
    const DWORD attributes = GetFileAttributesA(identity.companion.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace vellum
