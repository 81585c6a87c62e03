// The program's settings record and the rules that hold for it whatever
// stores it.
//
// There is one program-wide instance, settings(), owned by the UI thread: it
// is loaded while the main window is created and saved when it is destroyed
// (shell/settings_win.h); in between, commands and dialogs change it in memory
// only. Other threads never touch it: a connection thread gets copies of
// ProxySettings and DialUpSettings when it starts, the crawler a copy of what
// it needs when a run starts.
//
// Each field is named after its registry value (a dotted group name becomes a
// nested record, or for the auto-get search a prefix: recScanString). Flags
// are 32-bit and kept as stored (0 off, anything else on), except
// recStart.linkOnly, which is held as 0 or 1. Texts are code page 932. In the
// registry each text has a 260-byte buffer: a stored text that does not fit
// it with its terminating zero is replaced by its default at load, and the
// dialogs cut what the user types at kTextLimit characters.
//
// A default-constructed Settings holds every default except localPath, which
// comes from the program's folder (default_save_folder).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "autoget/autoget_settings.h"
#include "http/line_list.h"
#include "proxy/connection_settings.h"

namespace vellum {

// Size of every text buffer of the registry format, terminator included.
inline constexpr std::size_t kTextBufferSize = 260;
// The longest text that fits such a buffer.
inline constexpr std::size_t kTextLimit = kTextBufferSize - 1;

// The auto-get part comes first, as the base record the auto-get window is
// handed (autoget/autoget_settings.h).
struct Settings : AutoGetSettings {
    std::string localPath;               // save folder of recorded pages
    std::uint32_t internet = 0;          // mode インターネット接続
    std::uint32_t localize = 0;          // mode ページ保存; on implies internet on
    std::uint32_t recTreePut = 0;        // crawler requests shown in the request tree
    std::uint32_t log = 0;               // detailed connection log
    // Main window's normal rectangle; all four 0: centre the window.
    std::int32_t windowPosLeft = 0;
    std::int32_t windowPosTop = 0;
    std::int32_t windowPosRight = 0;
    std::int32_t windowPosBottom = 0;
    ProxySettings proxy;
    DialUpSettings dialUp;
    // tunnel.allowedPorts: the ports a CONNECT may reach besides 443, as
    // proxy/connect_target.h reads them ("563 8443 10000-10100").
    std::string tunnelAllowedPorts;

    bool operator==(const Settings&) const = default;
};

// The program-wide instance. UI thread only.
Settings& settings();

// The folder of the program file `module_path`: everything before its last
// backslash (double-byte aware), with a backslash put back when only a drive
// letter and its colon would be left ("X:\"). Empty when there is no backslash.
std::string default_save_folder(std::string_view module_path);

// True when the upstream proxy is this program at its default address, so that
// forwarding to it would loop: the address is "localhost" in any case or
// exactly "127.0.0.1", and the port exactly "8080".
bool is_self_proxy(const ProxySettings& proxy);

// The link-extension list as stored: every non-empty line followed by "\r\n";
// empty for an empty list.
std::string join_link_extensions(const LineList& extensions);
// The stored text back as a list: one entry per line, line ends removed,
// empty lines skipped.
LineList split_link_extensions(std::string_view text);

}  // namespace vellum
