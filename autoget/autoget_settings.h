// The settings the auto-get window keeps: the defaults of a new base URL's
// job, the start dialog's options, the last search and the window's place.
// The program-wide settings record (shell/settings.h) is one of these with
// the rest of the program's settings added; the auto-get window is handed it
// when it is created. UI thread only.
#pragma once

#include <cstdint>
#include <string>

#include "http/line_list.h"

namespace vellum {

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

struct AutoGetSettings {
    std::uint32_t recStatusModify = 1;   // new job's update check: 0 never, 1 HTML only, 2 always
    std::uint32_t recStatusLink = 1;     // new job's link depth, 0-100
    std::uint32_t recStatusLimit = 0;    // new job applies its restrictions to non-link resources
    std::uint32_t recStatusRetry = 5;    // new job's retry count, 0-10
    std::uint32_t recStatusRetryTimer = 5000;  // new job's retry interval in ms
    std::uint32_t recStatusRequisites = 0;     // new job fetches what its pages need to be displayed; 0 or 1
    // The auto-get window's normal rectangle; all four 0: centre the window.
    std::int32_t recWindowPosLeft = 0;
    std::int32_t recWindowPosTop = 0;
    std::int32_t recWindowPosRight = 0;
    std::int32_t recWindowPosBottom = 0;
    AutoGetStart recStart;
    std::string recScanString;       // recScan.string: last text searched for in the auto-get tree
    std::uint32_t recScanUplow = 0;  // recScan.uplow: that search is case-sensitive

    bool operator==(const AutoGetSettings&) const = default;
};

}  // namespace vellum
