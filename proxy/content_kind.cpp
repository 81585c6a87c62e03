#include "proxy/content_kind.h"

#include "http/http_message.h"

namespace vellum {

int content_kind(const std::optional<std::string>& content_type) {
    if (!content_type) return 0;
    if (header_name_is(*content_type, "text/html")) return 2;
    if (header_name_is(*content_type, "image/")) return 3;
    if (header_name_is(*content_type, "video/")) return 4;
    if (header_name_is(*content_type, "text/")) return 5;
    return 1;
}

}  // namespace vellum
