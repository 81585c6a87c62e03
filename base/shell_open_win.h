// The one seam through which the program has the shell open a URL or a file
// with its associated program (the verb "open", normal show state): the
// product's home page, a page of the auto-get tree in the browser.
//
// Production code calls shell_open(); by default it is ShellExecuteA. Tests
// install a ShellOpener that records the target, so that no test starts a
// browser. UI thread only.
#pragma once

#include <windows.h>

#include <string>

namespace vellum {

class ShellOpener {
public:
    virtual ~ShellOpener() = default;
    // True when the shell took it.
    virtual bool open(HWND owner, const std::string& target) = 0;
};

bool shell_open(HWND owner, const std::string& target);

// Replaces the opener for the current process; returns the previous one.
// nullptr restores ShellExecuteA.
ShellOpener* set_shell_opener(ShellOpener* opener);

}  // namespace vellum
