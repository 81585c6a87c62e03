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

#include "proxy/line_list.h"

namespace vellum {

// Size of every text buffer of the registry format, terminator included.
inline constexpr std::size_t kTextBufferSize = 260;
// The longest text that fits such a buffer.
inline constexpr std::size_t kTextLimit = kTextBufferSize - 1;

// The upstream HTTP proxy; copied into every connection.
struct ProxySettings {
    std::string address;     // proxy.address: host name or dotted address
    std::string port;        // proxy.port: decimal text
    std::uint32_t proxy = 0; // proxy.proxy: forward through the upstream proxy

    bool operator==(const ProxySettings&) const = default;
};

// Options of the auto-get start dialog (registry group recStart).
struct AutoGetStart {
    std::uint32_t linkOnly = 0;  // recStart.link: fetch the link structure only; 0 or 1
    std::uint32_t hour = 23;     // recStart.hour: scheduled start time
    std::uint32_t minute = 0;    // recStart.minute
    std::uint32_t hangUp = 0;    // recStart.hangUp: hang up when the run ends
    // recStart.linkExtList: extensions that mark a page in a link-only run,
    // one per line, without line ends.
    LineList linkExtensions{"html", "htm", "shtml"};

    bool operator==(const AutoGetStart&) const = default;
};

// Dialling before going online; copied into every connection.
struct DialUpSettings {
    std::uint32_t support = 0;  // dialUp.support: dial when the network is needed
    std::string dialStr;        // dialUp.dialStr: phone-book entry name
    std::string idStr;          // dialUp.idStr: user name
    std::string passwordStr;    // dialUp.passwordStr: password, kept as plain text

    bool operator==(const DialUpSettings&) const = default;
};

struct Settings {
    std::string localPath;               // save folder of recorded pages
    std::uint32_t internet = 0;          // mode インターネット接続
    std::uint32_t localize = 0;          // mode ページ保存; on implies internet on
    std::uint32_t recTreePut = 0;        // crawler requests shown in the request tree
    std::uint32_t log = 0;               // detailed connection log
    std::uint32_t recStatusModify = 1;   // new job's update check: 0 never, 1 HTML only, 2 always
    std::uint32_t recStatusLink = 1;     // new job's link depth, 0-100
    std::uint32_t recStatusLimit = 0;    // new job applies its restrictions to non-link resources
    std::uint32_t recStatusRetry = 5;    // new job's retry count, 0-10
    std::uint32_t recStatusRetryTimer = 5000;  // new job's retry interval in ms
    // Main window's normal rectangle; all four 0: centre the window.
    std::int32_t windowPosLeft = 0;
    std::int32_t windowPosTop = 0;
    std::int32_t windowPosRight = 0;
    std::int32_t windowPosBottom = 0;
    // Auto-get window's normal rectangle.
    std::int32_t recWindowPosLeft = 0;
    std::int32_t recWindowPosTop = 0;
    std::int32_t recWindowPosRight = 0;
    std::int32_t recWindowPosBottom = 0;
    ProxySettings proxy;
    AutoGetStart recStart;
    std::string recScanString;           // recScan.string: last text searched for in the auto-get tree
    std::uint32_t recScanUplow = 0;      // recScan.uplow: that search is case-sensitive
    DialUpSettings dialUp;

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
