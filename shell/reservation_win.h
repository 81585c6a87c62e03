// Reserving a request for auto-get: the request-tree command 40092 and the
// reservations that the browser component sends (MWM_RESERVE) both end here.
// The request becomes a base URL of the auto-get window's page tree; only a
// GET request can be reserved. UI thread; the request is only read.
#pragma once

#include "http/http_message.h"

namespace vellum {

void reserve_for_autoget(const ProxyRequest& request);

}  // namespace vellum
