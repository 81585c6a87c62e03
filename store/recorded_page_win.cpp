#include "store/recorded_page_win.h"

#include <algorithm>
#include <vector>

#include "base/lead_byte.h"
#include "store/folder_listing_win.h"
#include "store/recorded_page.h"
#include "store/store_files_win.h"
#include "store/url_map.h"

namespace vellum {
namespace {

constexpr DWORD kReplace = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;

std::vector<PageEntry> find_files(const std::string& pattern) {
    std::vector<PageEntry> found;
    WIN32_FIND_DATAA data;
    FindHandle search(FindFirstFileA(pattern.c_str(), &data));
    if (!search) return found;
    do {
        PageEntry file;
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

std::string file_name_part(const std::string& path) {
    return path.substr(folder_of(path).size());
}

// Everything beside the page that its name begins: the page, its companions
// and its temporary files, in one listing (one look at the folder), or from
// the folder's kept listing while the store lock vouches for it. The page's
// own size is not among what it decides: open_recorded_page asks the file.
PageFiles page_files(const std::string& store_path) {
    const std::string page_name = file_name_part(store_path);
    if (std::optional<std::vector<PageEntry>> kept = kept_listing_beside(store_path)) {
        return classify_page_files(page_name, *kept);
    }
    return classify_page_files(page_name, find_files(store_path + "*"));
}

// Deletes what a commit cut short (or a crash) left beside the page, in the
// order that keeps every state reading whole. Receiving files still being
// written can't be deleted (their writer shares no deletion) and stay.
// `keep` (a file name) is spared: the receiving file of the commit at hand.
void delete_leftovers(const std::string& store_path, const PageFiles& files, const std::string& keep = {}) {
    const std::string folder = folder_of(store_path);
    for (const std::string& name : leftover_names(files)) {
        if (name != keep) store_delete_file(folder + name);
    }
}

// The receiving file normally sits beside the page already; a page received
// elsewhere still gets its folders.
void make_folders_above(const std::string& path) {
    for (const std::string& folder : folders_above(path)) CreateDirectoryA(folder.c_str(), nullptr);
}

// An empty file, on the disk before this returns.
bool create_empty_file(const std::string& path) {
    FileHandle file = store_create_file(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH);
    return file.valid();
}

class Commit {
public:
    Commit(const std::string& store_path, const std::string& companion, const std::string& receiving_path,
           const CommitProbe* probe)
        : store_path_(store_path),
          folder_(folder_of(store_path)),
          companion_(companion),
          receiving_path_(receiving_path),
          probe_(probe) {}

    // The failure, if any; `interrupted` when the probe stopped it.
    std::optional<CommitFailure> run();
    bool interrupted() const { return interrupted_; }

private:
    bool step(CommitStep reached) {
        if (probe_ && *probe_ && !(*probe_)(reached)) interrupted_ = true;
        return !interrupted_;
    }
    CommitFailure failure(const std::string& path) const { return CommitFailure{path, GetLastError()}; }
    // Undoes the steps after the staged body was made, newest first.
    void undo(bool companion_made) {
        const DWORD error = GetLastError();
        if (companion_made) store_delete_file(companion_);
        store_delete_file(marker_);
        store_delete_file(staged_);
        SetLastError(error);
    }

    std::string store_path_;
    std::string folder_;
    std::string companion_;
    std::string receiving_path_;
    std::string staged_;
    std::string marker_;
    const CommitProbe* probe_;
    bool interrupted_ = false;
};

std::optional<CommitFailure> Commit::run() {
    make_folders_above(store_path_);
    // A commit cut short earlier is finished or undone first, so that a page
    // never has two commits' names beside it.
    PageFiles files = page_files(store_path_);
    const std::string own_receiving = file_name_part(receiving_path_);
    const bool others_receiving = std::any_of(files.receiving.begin(), files.receiving.end(),
                                              [&own_receiving](const std::string& name) { return name != own_receiving; });
    if (files.staged || !files.markers.empty() || others_receiving) {
        delete_leftovers(store_path_, files, own_receiving);
        files = page_files(store_path_);
        if (files.staged || !files.markers.empty()) return failure(store_path_);
    }

    // One companion is left: the one describing the body there now.
    const int current = current_companion(files);
    for (std::size_t i = 0; i < files.companions.size(); ++i) {
        if (static_cast<int>(i) != current) store_delete_file(folder_ + files.companions[i].first);
    }
    if (!step(CommitStep::pruned)) return std::nullopt;

    const std::string suffix = companion_.substr(store_path_.size());
    const bool same_metadata =
        current >= 0 && std::string_view(files.companions[current].first).substr(files.page_name_size) == suffix;
    if (same_metadata) {
        // The companion is right for both bodies: the body changes in one step.
        if (!store_move_file(receiving_path_, store_path_, kReplace)) return failure(store_path_);
        step(CommitStep::body_replaced);
        return std::nullopt;
    }

    staged_ = staged_body_name(store_path_);
    marker_ = commit_marker_name(store_path_, suffix);
    if (!store_move_file(receiving_path_, staged_, kReplace)) return failure(store_path_);
    if (!step(CommitStep::staged)) return std::nullopt;
    if (!create_empty_file(marker_)) {
        CommitFailure failed = failure(marker_);
        undo(false);
        return failed;
    }
    if (!step(CommitStep::marked)) return std::nullopt;
    if (!create_empty_file(companion_)) {
        CommitFailure failed = failure(companion_);
        undo(false);
        return failed;
    }
    if (!step(CommitStep::companion_created)) return std::nullopt;
    if (!store_move_file(staged_, store_path_, kReplace)) {
        CommitFailure failed = failure(store_path_);
        undo(true);
        return failed;
    }
    if (!step(CommitStep::body_replaced)) return std::nullopt;

    // The new page stands. Until the old companion is gone the marker must
    // stay: it is what says which companion is the new one.
    bool old_gone = true;
    if (current >= 0) old_gone = store_delete_file(folder_ + files.companions[current].first) != 0;
    if (!step(CommitStep::old_companion_deleted)) return std::nullopt;
    if (old_gone) store_delete_file(marker_);
    step(CommitStep::marker_deleted);
    return std::nullopt;
}

}  // namespace

std::optional<RecordedPage> open_recorded_page(std::string_view save_folder, const ParsedUrl& url) {
    std::optional<std::string> store_path = url_store_path(save_folder, url);
    if (!store_path) return std::nullopt;
    const PageFiles files = page_files(*store_path);

    std::optional<RecordedPage> recorded;
    const int current = current_companion(files);
    if (files.page && !files.page->folder && current >= 0) {
        RecordedPage page;
        // Others may delete or replace the file while it is read: the reader
        // keeps what it opened, and a recording need not wait for it.
        page.file.reset(CreateFileA(store_path->c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        // Its size is the open file's: another program may have rewritten
        // the page since the folder was listed, which moves no folder stamp.
        BY_HANDLE_FILE_INFORMATION info;
        if (page.file && GetFileInformationByHandle(page.file.get(), &info) &&
            !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            const std::uint64_t size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
            if (size != 0) {
                page.header = stored_response(files.companions[current].second, size);
                recorded = std::move(page);
            }
        }
    }
    // What was read is decided; clearing leftovers now changes nothing in it.
    delete_leftovers(*store_path, files);
    return recorded;
}

bool delete_recorded_page(std::string_view save_folder, const ParsedUrl& url) {
    std::optional<std::string> store_path = url_store_path(save_folder, url);
    if (!store_path) return false;
    const std::string folder = folder_of(*store_path);
    for (const auto& [name, info] : page_files(*store_path).companions) store_delete_file(folder + name);
    store_delete_file(*store_path);
    return true;
}

std::optional<CommitFailure> commit_recorded_page(std::string_view save_folder, const ParsedUrl& url,
                                                  const ServerResponse& response, const std::string& receiving_path,
                                                  const CommitProbe& probe) {
    std::optional<std::string> store_path = url_store_path(save_folder, url);
    std::optional<std::string> companion = companion_file_name(save_folder, url, response);
    std::optional<CommitFailure> failure;
    if (!store_path || !companion) {
        // No room for the metadata: the old recording stays as it was.
        failure = CommitFailure{store_path ? *store_path : receiving_path, ERROR_FILENAME_EXCED_RANGE};
    } else {
        Commit commit(*store_path, *companion, receiving_path, &probe);
        failure = commit.run();
        if (commit.interrupted()) return std::nullopt;  // as a crash would leave it
    }
    const DWORD error = GetLastError();
    store_delete_file(receiving_path);  // gone already unless the commit failed before taking it
    SetLastError(error);
    return failure;
}

std::optional<CommitFailure> commit_redirect(const std::string& redirect_path, const std::string& receiving_path) {
    std::optional<CommitFailure> failure;
    if (!store_move_file(receiving_path, redirect_path, kReplace)) {
        failure = CommitFailure{redirect_path, GetLastError()};
        store_delete_file(receiving_path);
    }
    return failure;
}

void tidy_recorded_page(const std::string& store_path) {
    delete_leftovers(store_path, page_files(store_path));
}

}  // namespace vellum
