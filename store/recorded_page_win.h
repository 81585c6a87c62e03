// The file side of recorded pages: finding a page with its companion, deleting
// a recording, and committing a received response in place of the old one.
//
// Callers hold the store lock (proxy/store_lock_win.h) around every
// open_recorded_page and around each commit, so a reader never sees a page
// between two states. The handle that open_recorded_page returns is read after
// the lock is released. Any thread.
#pragma once

#include <windows.h>

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

// The page file (existing, not a folder, not empty) and its companion with the
// greatest name, or none when the URL is not recorded.
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

// Puts the complete body in `receiving_path` in place of the recording of
// `url`, described by the server's `response`, and deletes the receiving file.
// The body is copied over the page file first and the companions replaced
// only after that succeeded, so a failure never leaves the old body with new
// metadata, nor a deleted page with nothing in its place.
std::optional<CommitFailure> commit_recorded_page(std::string_view save_folder, const ParsedUrl& url,
                                                  const ServerResponse& response, const std::string& receiving_path);

// Copies the complete response in `receiving_path` over the redirect file and
// deletes the receiving file. The page file and its companion stay as they are.
std::optional<CommitFailure> commit_redirect(const std::string& redirect_path, const std::string& receiving_path);

}  // namespace vellum
