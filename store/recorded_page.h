// Recorded pages: a body file plus an empty companion file whose name carries
// the response's Last-Modified stamp and content type, an optional redirect
// file holding a whole 3xx response, and a receiving file while a response
// arrives. For a URL with store path P:
//   page file       P
//   companion       P "(" YYYYMMDDhhmmss " " escaped-type ")"   (empty)
//   redirect file   P ".response"
//   receiving file  P ".#" socket-number-of-at-least-5-digits "#"
// This header holds the naming, the reading of a companion name back into a
// response header and the freshness rule; pure functions, any thread. The
// file operations are in recorded_page_win.h.
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

// The metadata a companion name carries.
struct CompanionInfo {
    std::string timestamp;                    // 14 digits; "00000000000000" for no date
    std::optional<std::string> content_type;  // decoded; none for "none"
};

// Reads the companion `name` of the page whose file name (as the file system
// reports it) is `page_name`; none when `name` is not a real companion.
std::optional<CompanionInfo> parse_companion_name(std::string_view page_name, std::string_view name);

// The 200 header rebuilt from a companion and the page file's size:
// "HTTP/1.0 200 OK", "Last-modified: ..." (when dated), "Content-length: ..."
// (when below 4 GiB), "Content-type: ..." (when typed), "\r\n".
std::unique_ptr<ServerResponse> stored_response(const CompanionInfo& info, std::uint64_t page_size);

// The recorded copy is current, and served instead of the server's body, when
// the server answered 200 and both Last-Modified times are valid and equal.
bool recorded_copy_is_current(const ServerResponse& server, const ServerResponse& stored);

}  // namespace vellum
