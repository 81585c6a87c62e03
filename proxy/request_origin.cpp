#include "proxy/request_origin.h"

namespace vellum {

RequestOrigin request_origin(const ProxyRequest& request) {
    if (request.autoget_mark && request.forced_get_mark) return RequestOrigin::forced_autoget;
    if (request.autoget_mark) return RequestOrigin::autoget;
    if (request.forced_get_mark) return RequestOrigin::forced_get;
    return RequestOrigin::browser;
}

}  // namespace vellum
