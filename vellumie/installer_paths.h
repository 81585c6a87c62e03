// Where the installer finds the component and the two context-menu pages,
// and where it writes the native messaging host's manifests: beside its own
// program file.
//
// Pure; any thread; the caller owns the result.
#pragma once

#include <string>
#include <string_view>

namespace vellum {

struct InstallerPaths {
    std::string component;    // <folder>\tessel.dll
    std::string page;         // <folder>\ReserveAutoGet.htm
    std::string parent_page;  // <folder>\ReserveAutoGetParent.htm
    std::string chrome_host_manifest;   // <folder>\vellumhost-chrome.json (Chrome and Edge)
    std::string firefox_host_manifest;  // <folder>\vellumhost-firefox.json
};

// `program_path` is the installer's full path in the ANSI code page; its
// folder ends at the last backslash that is not the trail byte of a
// two-byte character (the whole text when there is none).
InstallerPaths installer_paths(std::string_view program_path);

}  // namespace vellum
