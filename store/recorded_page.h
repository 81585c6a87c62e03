// Recorded pages: a body file plus an empty companion file whose name carries
// the response's Last-Modified stamp and content type, an optional redirect
// file holding a whole 3xx response, and a receiving file while a response
// arrives. For a URL with store path P:
//   page file       P
//   companion       P "(" YYYYMMDDhhmmss " " escaped-type ")"   (empty)
//   redirect file   P ".response"
//   receiving file  P ".#" socket-number-of-at-least-5-digits "#"
// and, only for the instant a recording replaces the old one:
//   staged body     P ".#%new#"             the complete new body
//   commit marker   P ".#%commit#" + the new companion's part after P  (empty)
// A "%" not followed by two hexadecimal digits never occurs in a store path,
// so neither of the last two can be another URL's page.
//
// This header holds the naming, the reading of a companion name back into a
// response header, the reading of the names beside a page (which companion
// describes the body there, and which names a commit cut short left behind)
// and the freshness rule; pure functions, any thread. The file operations
// are in recorded_page_win.h.
//
// A real companion is told apart from a page that merely starts with the same
// name and "(" (a page "a" beside a page "a(1).html"): it is the page's name,
// "(", exactly 14 digits, a space, a non-empty type without "(" and ")". The
// writer escapes "(" and ")" of a type as %28 and %29, which the reader's
// percent-decoding restores, so every type it writes is read back.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "http/http_message.h"

namespace vellum {

// Full path of the companion file for the server's answer `response`.
// When the escaped type makes the path kPathBufferSize bytes or longer, the
// type without its parameters (up to the first ";") is used, and when even
// that is too long, "none": the page is then served without a type rather
// than not at all. None only when P itself leaves no room.
std::optional<std::string> companion_file_name(std::string_view save_folder, const ParsedUrl& url,
                                               const ServerResponse& response);

// P ".response"; none when P is none or the result is 260 bytes or longer.
std::optional<std::string> redirect_file_name(std::string_view save_folder, const ParsedUrl& url);

// "%s.#%05u#" of the store path and the client socket's number.
std::string receiving_file_name(const std::string& store_path, unsigned socket_number);

std::string staged_body_name(const std::string& store_path);
// `companion_suffix` is the new companion's name after P: "(" ... ")".
std::string commit_marker_name(const std::string& store_path, std::string_view companion_suffix);

// The metadata a companion name carries.
struct CompanionInfo {
    std::string timestamp;                    // 14 digits; "00000000000000" for no date
    std::optional<std::string> content_type;  // decoded; none for "none"
};

// Reads the companion `name` of the page whose file name (as the file system
// reports it) is `page_name`; none when `name` is not a real companion.
std::optional<CompanionInfo> parse_companion_name(std::string_view page_name, std::string_view name);

// One name the file system lists beside a page (a listing of P "*").
struct PageEntry {
    std::string name;  // as the file system reports it
    std::uint64_t size = 0;
    bool folder = false;
};

// What the names beside the page file `page_name` say. Names that merely
// begin with the page's name (other URLs' pages) are in none of the lists.
struct PageFiles {
    std::size_t page_name_size = 0;
    std::optional<PageEntry> page;
    std::vector<std::pair<std::string, CompanionInfo>> companions;  // real companions: name, metadata
    std::optional<std::string> staged;                              // the staged body
    std::vector<std::string> markers;                               // commit markers
    std::vector<std::string> receiving;  // receiving files (live ones among them, which can't be deleted)
};
PageFiles classify_page_files(std::string_view page_name, const std::vector<PageEntry>& listing);

// The companion describing the body that the page file holds now: the one
// with the greatest name (bytes compared unsigned), except while a commit
// marker stands: then the companion it names is the new version's, taken
// once the staged body has replaced the page (no staged body left), and
// passed over while the staged body still waits. -1 when there is none.
//
// A commit creates the marker, then the new companion, then moves the staged
// body over the page, then deletes the old companions and last the marker, so
// every state it passes through reads as the old page with its old metadata
// or the new page with its new metadata; without a marker (every state a
// page is in outside a commit) the rule is the greatest name, as ever.
int current_companion(const PageFiles& files);

// The names to delete, in this order, to finish a commit that stopped after
// replacing the body or undo one that stopped before, and to clear away
// receiving files: each deletion leaves a state that reads as before it.
std::vector<std::string> leftover_names(const PageFiles& files);

// The page file name a temporary name beside it belongs to (a receiving file,
// a staged body, a commit marker); none for any other name.
std::optional<std::string> page_of_temporary_name(std::string_view name);

// The 200 header rebuilt from a companion and the page file's size:
// "HTTP/1.0 200 OK", "Last-modified: ..." (when dated), "Content-length: ..."
// (when below 4 GiB), "Content-type: ..." (when typed), "\r\n".
std::unique_ptr<ServerResponse> stored_response(const CompanionInfo& info, std::uint64_t page_size);

// The recorded copy is current, and served instead of the server's body, when
// the server answered 200 and both Last-Modified times are valid and equal.
bool recorded_copy_is_current(const ServerResponse& server, const ServerResponse& stored);

}  // namespace vellum
