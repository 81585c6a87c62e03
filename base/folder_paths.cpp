#include "base/folder_paths.h"

#include "base/lead_byte.h"

namespace vellum {
namespace {

long last_backslash(std::string_view path) {
    return find_last_single_byte(path.data(), static_cast<long>(path.size()), '\\');
}

bool is_ascii_letter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

bool ends_with_backslash(std::string_view path) {
    return !path.empty() && last_backslash(path) == static_cast<long>(path.size()) - 1;
}

std::string trim_backslashes(std::string_view name) {
    while (ends_with_backslash(name)) name.remove_suffix(1);
    // A leading byte is never a trail byte: no lead-byte walk needed here.
    while (!name.empty() && name.front() == '\\') name.remove_prefix(1);
    return std::string(name);
}

bool is_drive_root(std::string_view path) {
    return path.size() == 3 && is_ascii_letter(path[0]) && path[1] == ':' && path[2] == '\\';
}

std::string parent_folder(std::string_view path) {
    const long slash = last_backslash(path);
    if (slash < 0) return std::string(path);
    std::string parent(path.substr(0, static_cast<std::size_t>(slash)));
    if (parent.size() == 2 && parent[1] == ':') parent += '\\';
    return parent;
}

}  // namespace vellum
