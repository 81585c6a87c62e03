// Where a recorded page lives: the mapping from an absolute "http" or "https"
// URL to its file under the save folder. Recording, offline serving, the metadata files
// and the crawler all go through url_store_path, so one URL always finds one
// file. Pure functions; any thread. Results are owned by the caller; none
// means the URL has no local file (offline serving answers 404, recording is
// skipped).
//
// The relative file path is the host element (host, ":" and port), one
// element per path segment and "index.html" for a path ending in "/"; the
// query joins the last element after "?". Each element is percent-decoded
// ("+" as a space only in the query) and then escaped for a file name
// (store/text_codec.h), so "%41" and "A" share a file, "/" inside a segment
// stays "%2F" and ":" becomes "%3A". Letter case is kept. Examples, host
// "server": "/" -> server\index.html, "/dir/?page=2" ->
// server\dir\index.html%3Fpage=2, "/a//b" -> server\a\\b.
//
// Windows would change some element names on its own: it drops a final dot
// or space (so "a." and "a" would share a file, "." and ".." would climb out
// of the save folder), opens a device for CON, PRN, AUX, NUL, COM1-COM9 and
// LPT1-LPT9 (any case, with or without an extension, with spaces before the
// dot), and reads a lead byte that ends an element together with the
// following backslash as one two-byte character (so two folders would merge).
// Such elements, and only they, are changed after escaping, in this order:
//   1. a lead byte that ends the element is written "%" and its two
//      hexadecimal digits ("a\x81" -> "a%81");
//   2. a final single-byte "." or " " is written "%2E" or "%20"
//      ("." -> "%2E", ".." -> ".%2E", "a. " -> "a.%20");
//   3. when the part before the first "." with its final spaces removed is a
//      device name, that name's last character is written "%" and its two
//      hexadecimal digits ("CON" -> "CO%4E", "lpt1.txt" -> "lpt%31.txt",
//      "Nul .x" -> "Nu%6C .x").
// This applies to every element: the host element, each path element and the
// last element with its query ("CON%3Fx" is no device and stays as it is).
// The escaper never writes "%" before 2E, 20, a letter or a digit (those
// bytes are copied, and "%" itself becomes "%25"), and it escapes a lead byte
// only when no trail byte follows, as rule 1 would, so no other URL can map to
// a changed element, and each change can be undone, so changed elements stay
// distinct from one another.
//
// An https:// URL's host element is the one its http:// twin has, followed by
// kHttpsHostMark: "https://server:8443/" -> server%3A8443%https\index.html.
// The escaper and the rules above write "%" only before two upper-case
// hexadecimal digits, so "%h" comes from no http:// URL: the two schemes of
// one host never share a file, and the folder still reads as the host.
//
// A URL whose host element or last element comes out empty (a "%00" there)
// has no local file, and neither has a path that doesn't begin with "/".
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "http/http_message.h"

namespace vellum {

inline constexpr char kHttpsHostMark[] = "%https";

// The path relative to the save folder, backslash separated; none unless the
// scheme is exactly "http" or "https" and there are a host and a path.
std::optional<std::string> url_relative_file_path(const ParsedUrl& url);

// save_folder, one backslash (unless it already ends in one) and the relative
// file path; none when that is kPathBufferSize (260) bytes or longer, or when
// the save folder is empty or ends in a lead byte without its trail byte.
std::optional<std::string> url_store_path(std::string_view save_folder, const ParsedUrl& url);

// Rule 1-3 above, on one escaped element; an empty element stays empty.
void guard_file_element(std::string& element);

// The folders above the file `path` names, outermost first, as
// create_file_with_folders makes them: the path cut at each backslash (never a
// trail byte), except a backslash at the start or after a drive's ":".
std::vector<std::string> folders_above(std::string_view path);

}  // namespace vellum
