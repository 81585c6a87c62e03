// AutoGetJob: the settings of one reserved base URL, owned by its base node
// in the page tree and shared by every node below it. Also the pure parts of
// making one: the defaults a reservation starts from, the default restriction
// and the entry lists the settings dialog edits as text.
//
// Plain data and pure functions; the record belongs to the UI thread (the
// crawler works on its own copy). Everything returned is a new value the
// caller owns.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "autoget/autoget_settings.h"
#include "http/http_message.h"
#include "http/line_list.h"

namespace vellum {

struct AutoGetJob {
    // The two texts were 260-byte buffers; they are held whole here, so a
    // long reserved URL is shown as it is instead of overrunning a buffer.
    std::string baseUrl;     // the reserved URL
    std::string saveFolder;  // folder under which this base URL's pages are recorded
    int updateCheck = 0;     // 0 never fetch a stored page, 1 again only if HTML, 2 always
    int restrictAll = 0;     // 1: the restrictions apply to embedded resources too
    int maxDepth = 0;        // link depth limit, 0-100
    int retryCount = 0;      // retries of a fetch that failed with a code 1-99, 0-10
    int retryInterval = 5000;                // milliseconds: 5000, 30000 or 60000
    // 1: also fetch what a page needs to be displayed (its stylesheets,
    // scripts, icons, srcset pictures, posters, objects and iframes, and
    // what its stylesheets refer to), each as an embedded resource.
    int pageRequisites = 0;
    std::optional<LineList> skipExtensions;  // extensions (no dot) never fetched
    std::optional<LineList> restrictions;    // texts of which a URL must contain one
    std::optional<ParsedUrl> referer;        // Referer sent with the base URL itself
    std::optional<std::string> userAgent;    // User-Agent of every request of this base URL

    bool operator==(const AutoGetJob&) const = default;
};

// The restriction a new base URL gets, and that the settings dialog shows for
// a job without one: the URL cut at its first "#", then at its first "?",
// then just after its last "/". None when no "/" is left.
std::optional<std::string> default_restriction(std::string_view url);

// A new job for a reserved URL, from the reservation defaults.
AutoGetJob make_reserved_job(const AutoGetSettings& defaults, std::string_view saveFolder, std::string_view url,
                             const std::optional<ParsedUrl>& referer, const std::optional<std::string>& userAgent);

// Entry lists edited as text: split at LF, a CR before the LF removed, empty
// lines dropped (an empty text gives an empty list); shown as each entry
// followed by CR LF.
LineList entry_list_from_text(std::string_view text);
std::string entry_list_text(const std::optional<LineList>& entries);

}  // namespace vellum
