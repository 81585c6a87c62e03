#include "shell/settings.h"

#include "base/lead_byte.h"

namespace vellum {
namespace {

bool equals_ascii_ignoring_case(std::string_view text, std::string_view lower_word) {
    if (text.size() != lower_word.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != lower_word[i]) return false;
    }
    return true;
}

}  // namespace

Settings& settings() {
    static Settings instance;
    return instance;
}

std::string default_save_folder(std::string_view module_path) {
    const long slash = find_last_single_byte(module_path.data(), static_cast<long>(module_path.size()), '\\');
    if (slash < 0) return {};
    std::string folder(module_path.substr(0, static_cast<std::size_t>(slash)));
    // "X:" alone names the drive's current directory, not its root.
    if (folder.size() == 2 && folder[1] == ':') folder += '\\';
    return folder;
}

bool is_self_proxy(const ProxySettings& proxy) {
    const bool own_host = equals_ascii_ignoring_case(proxy.address, "localhost") || proxy.address == "127.0.0.1";
    return own_host && proxy.port == "8080";
}

std::string join_link_extensions(const LineList& extensions) {
    return extensions.join(/*add_crlf=*/true, /*skip_empty=*/true);
}

LineList split_link_extensions(std::string_view text) {
    return LineList::split(text, /*strip_line_endings=*/true, /*skip_empty=*/true);
}

}  // namespace vellum
