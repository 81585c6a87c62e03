#include "store/recorded_page_win.h"

#include <vector>

#include "base/lead_byte.h"
#include "store/recorded_page.h"
#include "store/store_files_win.h"
#include "store/url_map.h"

namespace vellum {
namespace {

struct FoundFile {
    std::string name;  // as the file system reports it
    std::uint64_t size = 0;
    bool folder = false;
};

std::vector<FoundFile> find_files(const std::string& pattern) {
    std::vector<FoundFile> found;
    WIN32_FIND_DATAA data;
    FindHandle search(FindFirstFileA(pattern.c_str(), &data));
    if (!search) return found;
    do {
        FoundFile file;
        file.name = data.cFileName;
        file.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        file.folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        found.push_back(std::move(file));
    } while (FindNextFileA(search.get(), &data));
    return found;
}

// The folder part of a path, up to and including its last backslash.
std::string folder_of(const std::string& path) {
    long slash = find_last_single_byte(path.data(), static_cast<long>(path.size()), '\\');
    return slash < 0 ? std::string() : path.substr(0, static_cast<std::size_t>(slash) + 1);
}

// The real companions of the page file `page_name` in `folder`; companions
// are empty files, so a non-empty look-alike page is never taken for one.
std::vector<std::pair<std::string, CompanionInfo>> companions_of(const std::string& store_path,
                                                                 const std::string& page_name) {
    std::vector<std::pair<std::string, CompanionInfo>> companions;
    for (const FoundFile& file : find_files(store_path + "(*")) {
        if (file.folder || file.size != 0) continue;
        if (auto info = parse_companion_name(page_name, file.name)) companions.emplace_back(file.name, *info);
    }
    return companions;
}

std::string file_name_part(const std::string& path) {
    return path.substr(folder_of(path).size());
}

bool unsigned_less(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    });
}

void delete_companions(const std::string& store_path, const std::string& page_name) {
    const std::string folder = folder_of(store_path);
    for (const auto& [name, info] : companions_of(store_path, page_name)) DeleteFileA((folder + name).c_str());
}

// The receiving file normally sits beside the page already; a page received
// elsewhere still gets its folders.
void make_folders_above(const std::string& path) {
    for (const std::string& folder : folders_above(path)) CreateDirectoryA(folder.c_str(), nullptr);
}

std::optional<CommitFailure> replace_recording(std::string_view save_folder, const ParsedUrl& url,
                                               const ServerResponse& response, const std::string& receiving_path) {
    std::optional<std::string> store_path = url_store_path(save_folder, url);
    std::optional<std::string> companion = companion_file_name(save_folder, url, response);
    if (!store_path || !companion) {
        // No room for the metadata: the old recording stays as it was.
        return CommitFailure{store_path ? *store_path : receiving_path, ERROR_FILENAME_EXCED_RANGE};
    }
    make_folders_above(*store_path);
    if (!CopyFileA(receiving_path.c_str(), store_path->c_str(), FALSE)) return CommitFailure{*store_path, GetLastError()};
    // The page name as the file system reports it: a recording made under
    // another letter case keeps its old name.
    std::vector<FoundFile> page = find_files(*store_path);
    delete_companions(*store_path, page.size() == 1 ? page.front().name : file_name_part(*store_path));
    FileHandle created = create_file_with_folders(*companion);
    if (!created) return CommitFailure{*companion, GetLastError()};
    return std::nullopt;
}

}  // namespace

std::optional<RecordedPage> open_recorded_page(std::string_view save_folder, const ParsedUrl& url) {
    std::optional<std::string> store_path = url_store_path(save_folder, url);
    if (!store_path) return std::nullopt;
    std::vector<FoundFile> page = find_files(*store_path);
    if (page.size() != 1 || page.front().folder || page.front().size == 0) return std::nullopt;

    std::optional<std::pair<std::string, CompanionInfo>> chosen;
    for (auto& companion : companions_of(*store_path, page.front().name)) {
        if (!chosen || unsigned_less(chosen->first, companion.first)) chosen = std::move(companion);
    }
    if (!chosen) return std::nullopt;

    RecordedPage recorded;
    recorded.header = stored_response(chosen->second, page.front().size);
    recorded.file.reset(CreateFileA(store_path->c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!recorded.file) return std::nullopt;
    return recorded;
}

bool delete_recorded_page(std::string_view save_folder, const ParsedUrl& url) {
    std::optional<std::string> store_path = url_store_path(save_folder, url);
    if (!store_path) return false;
    delete_companions(*store_path, file_name_part(*store_path));
    DeleteFileA(store_path->c_str());
    return true;
}

std::optional<CommitFailure> commit_recorded_page(std::string_view save_folder, const ParsedUrl& url,
                                                  const ServerResponse& response, const std::string& receiving_path) {
    std::optional<CommitFailure> failure = replace_recording(save_folder, url, response, receiving_path);
    DeleteFileA(receiving_path.c_str());
    return failure;
}

std::optional<CommitFailure> commit_redirect(const std::string& redirect_path, const std::string& receiving_path) {
    std::optional<CommitFailure> failure;
    if (!CopyFileA(receiving_path.c_str(), redirect_path.c_str(), FALSE)) {
        failure = CommitFailure{redirect_path, GetLastError()};
    }
    DeleteFileA(receiving_path.c_str());
    return failure;
}

}  // namespace vellum
