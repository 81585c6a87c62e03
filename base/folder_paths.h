// The path texts the folder chooser works with, in code page 932: every
// backslash search takes a two-byte character as one unit, so that the
// trail byte 0x5C of a character such as "ソ" or "表" is never taken for a
// separator. Pure and portable; any thread.
#pragma once

#include <string>
#include <string_view>

namespace vellum {

// The text's last character is a backslash.
bool ends_with_backslash(std::string_view path);

// A typed folder name without the backslashes at its end, then at its start;
// inner ones stay.
std::string trim_backslashes(std::string_view name);

// Exactly a drive letter, a colon and a backslash ("C:\").
bool is_drive_root(std::string_view path);

// The path cut at its last backslash; a bare drive ("C:") gets its backslash
// back, as "C:" names the drive's current folder rather than its root. The
// path itself when it has no backslash.
std::string parent_folder(std::string_view path);

}  // namespace vellum
