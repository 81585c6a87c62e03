// The cookie file ("cookie") and the credential file ("authenticate") in the
// folder that holds the program: read once at start-up into the jar and the
// store, written back once at exit. Nothing is written while the program runs.
//
// A save never recreates a file in place: it writes the whole new text to
// "<name>.new" beside the old file, flushes it, and only then puts it in the
// old one's place in one step. A crash, a full disk or any failed write
// during the save leaves the previous file whole (and at worst a stray
// "<name>.new", which the next save overwrites).
//
// UI thread: it owns the one CookieJar and the one CredentialStore the
// functions are given. The folder is a parameter (program_folder() in the
// program, a test's own folder in tests).
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "cookies/cookie_jar.h"
#include "cookies/credentials.h"

namespace vellum {

inline constexpr char kCookieFileName[] = "cookie";
inline constexpr char kCredentialFileName[] = "authenticate";
inline constexpr char kNewFileSuffix[] = ".new";

// The folder of the running program's file, without a final backslash.
std::string program_folder();
// folder, a backslash unless it already ends in one (never a trail byte), name.
std::string path_in_folder(std::string_view folder, std::string_view name);

// Empties the jar and fills it from the cookie file; a missing or unreadable
// file leaves it empty.
void cookie_jar_load(CookieJar& jar, std::string_view folder);
// Writes the cookies that have not expired by current_time_utc(); true when
// the new file is in place, false when the previous file was kept.
bool cookie_jar_save(const CookieJar& jar, std::string_view folder);
// cookie_jar_save, then empties the jar whatever the save's result.
bool cookie_jar_save_and_free(CookieJar& jar, std::string_view folder);

// Empties the store and fills it from the credential file; a missing or
// unreadable file leaves it empty.
void credentials_load(CredentialStore& store, std::string_view folder);
// Writes the complete entries, then empties the store whatever the save's
// result; true when the new file is in place.
bool credentials_save_and_free(CredentialStore& store, std::string_view folder);

// The whole content of a file; none when it can't be opened. A read that
// fails part way gives what was read before it.
std::optional<std::string> read_whole_file(const std::string& path);
// Replaces the file at `path` by `bytes` through "<path>.new" as above; true
// when the new content is in place.
bool replace_file(const std::string& path, std::string_view bytes);

// The one place a save writes bytes, so that a test can make the disk fill
// up: writes all `size` bytes or returns false. nullptr restores the default
// (WriteFile until everything is written); returns the previous function.
using FileWriteFunction = bool (*)(HANDLE file, const char* data, DWORD size);
FileWriteFunction set_file_write_function(FileWriteFunction write);

}  // namespace vellum
