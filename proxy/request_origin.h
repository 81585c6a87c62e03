// Who a request is for, from the proxy's own marker lines: a browser waiting
// for the answer, the crawler's fetch ("Vellum-Mode: RecMode"), or a forced
// get replayed from the forced-get queue ("Vellum-Mode: GetOnly"). A forced
// get copies the header of the request it repeats, so the forced get of a
// crawler's request carries both markers and is both.
//
// Pure and portable; any thread.
#pragma once

#include "http/http_message.h"

namespace vellum {

enum class RequestOrigin {
    browser,
    autoget,
    forced_get,
    forced_autoget,  // both markers
};

RequestOrigin request_origin(const ProxyRequest& request);

// No browser waits: the answer is only recorded, and the request goes online
// and is recorded whatever the modes say.
constexpr bool for_crawler(RequestOrigin origin) {
    return origin != RequestOrigin::browser;
}
// Carries the crawler's marker: its progress moves the auto-get window's bar
// and its end is reported to the crawler thread.
constexpr bool autoget_marked(RequestOrigin origin) {
    return origin == RequestOrigin::autoget || origin == RequestOrigin::forced_autoget;
}
constexpr bool forced_get_marked(RequestOrigin origin) {
    return origin == RequestOrigin::forced_get || origin == RequestOrigin::forced_autoget;
}

}  // namespace vellum
