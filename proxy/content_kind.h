// The content kind a finished request reports to the request tree, from its
// Content-Type: 0 none, 2 "text/html...", 3 "image/...", 4 "video/...",
// 5 another "text/...", 1 anything else (prefixes compared without case).
#pragma once

#include <optional>
#include <string>

namespace vellum {

int content_kind(const std::optional<std::string>& content_type);

}  // namespace vellum
