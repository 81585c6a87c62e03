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

// Size, write time and file index in one query of an open handle.
std::optional<PageIdentity> identity_of(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) return std::nullopt;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return std::nullopt;
    PageIdentity identity;
    identity.size = joined(info.nFileSizeHigh, info.nFileSizeLow);
    identity.writeTime = joined(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
    identity.fileIndex = joined(info.nFileIndexHigh, info.nFileIndexLow);
    identity.volume = info.dwVolumeSerialNumber;
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
    // Attributes only: the page is neither read nor kept from being replaced.
    FileHandle file(CreateFileA(store_path->c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    const std::optional<PageIdentity> now = identity_of(file.get());
    if (!now || now->size != identity.size || now->writeTime != identity.writeTime ||
        now->fileIndex != identity.fileIndex || now->volume != identity.volume) {
        return false;
    }
    // Without its companion the page is no longer recorded.
    const DWORD attributes = GetFileAttributesA(identity.companion.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace vellum
