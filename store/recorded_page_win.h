// The file side of recorded pages: finding a page with its companion, deleting
// a recording, committing a received response in place of the old one, and
// clearing away what a crash left in the middle of that.
//
// Callers hold the store lock (store/store_lock_win.h) around every
// open_recorded_page and around each commit, so a reader never looks in the
// middle of a commit; the order of a commit's steps keeps the page whole when
// a crash stops one. The handle that open_recorded_page returns is read after
// the lock is released. Any thread.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/win_handles.h"
#include "http/http_message.h"

namespace vellum {

struct RecordedPage {
    FileHandle file;                          // read handle on the page file
    std::unique_ptr<ServerResponse> header;  // the stored 200 header
};

// The page file (existing, not a folder, not empty) and the companion that
// describes it (current_companion in recorded_page.h), or none when the URL
// is not recorded. Then clears what a commit cut short left beside the page.
std::optional<RecordedPage> open_recorded_page(std::string_view save_folder, const ParsedUrl& url);

// Deletes the page file and every real companion; false when the URL has no
// store path. Each companion is tried once, so one that can't be deleted
// never keeps this from returning.
bool delete_recorded_page(std::string_view save_folder, const ParsedUrl& url);

// Where a commit failed, for the caller's log.
struct CommitFailure {
    std::string path;  // the file that could not be made
    DWORD error = 0;   // GetLastError at that point
};

// The steps of a commit, in order; a probe sees each one as it is reached.
enum class CommitStep {
    pruned,                 // only the companion describing the old body is left
    staged,                 // the new body has moved to the staged-body name
    marked,                 // the commit marker names the new companion
    companion_created,      // the new companion is there beside the old one
    body_replaced,          // the new body has replaced the page in one move
    old_companion_deleted,  // the old companion is gone
    marker_deleted,         // nothing of the commit is left but the new page
};
// A test's seam: returning false stops the commit right there and leaves
// everything as a crash at that instant would.
using CommitProbe = std::function<bool(CommitStep)>;

// Puts the complete body in `receiving_path` (closed, and flushed to the
// disk by its writer) in place of the recording of `url`, described by the
// server's `response`, and deletes the receiving file.
//
// Whatever instant a crash, a power cut or a full disk stops it at, the page
// reads (open_recorded_page) as the old page with its old metadata or the new
// one with its new metadata, never a cut body and never a mix: the body is
// moved in, never copied, and the companions change around that one move in
// the order recorded_page.h describes. With a companion that is right for
// both bodies (same date and type) the move is the whole commit. A failure
// leaves the old recording as it was.
std::optional<CommitFailure> commit_recorded_page(std::string_view save_folder, const ParsedUrl& url,
                                                  const ServerResponse& response, const std::string& receiving_path,
                                                  const CommitProbe& probe = {});

// Moves the complete response in `receiving_path` (closed and flushed) over
// the redirect file in one step, or deletes it when that fails. The page file
// and its companion stay as they are.
std::optional<CommitFailure> commit_redirect(const std::string& redirect_path, const std::string& receiving_path);

// Finishes or undoes a commit cut short beside the page at `store_path` and
// deletes receiving files nobody writes any more; open_recorded_page and every
// commit do the same for their page. Under the store lock.
void tidy_recorded_page(const std::string& store_path);

}  // namespace vellum
