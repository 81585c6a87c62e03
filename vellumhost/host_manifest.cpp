#include "vellumhost/host_manifest.h"

namespace vellum {
namespace {

std::string manifest(std::string_view allowed_key, std::string_view allowed) {
    std::string text = "{\r\n";
    text.append("  \"name\": \"").append(kNativeHostName).append("\",\r\n");
    text.append("  \"description\": \"Vellum auto-get reservation\",\r\n");
    text.append("  \"path\": \"").append(kNativeHostFileName).append("\",\r\n");
    text.append("  \"type\": \"stdio\",\r\n");
    text.append("  \"").append(allowed_key).append("\": [\"").append(allowed).append("\"]\r\n");
    text.append("}\r\n");
    return text;
}

}  // namespace

std::string chrome_host_manifest() {
    return manifest("allowed_origins", std::string("chrome-extension://") + kChromeExtensionId + "/");
}

std::string firefox_host_manifest() { return manifest("allowed_extensions", kFirefoxExtensionId); }

}  // namespace vellum
