#include "store/url_map.h"

#include <cstdio>

#include "base/lead_byte.h"
#include "store/text_codec.h"

namespace vellum {
namespace {

// Start of the last character of `text` (a two-byte character counts as one)
// and whether it is a lead byte missing its trail byte.
struct LastCharacter {
    std::size_t start = 0;
    bool lone_lead = false;
};

LastCharacter last_character(std::string_view text) {
    LastCharacter last;
    for (std::size_t i = 0; i < text.size();) {
        last.start = i;
        if (is_lead_byte(static_cast<unsigned char>(text[i]))) {
            last.lone_lead = i + 1 == text.size();
            i += last.lone_lead ? 1 : 2;
        } else {
            last.lone_lead = false;
            ++i;
        }
    }
    return last;
}

char ascii_upper(char ch) {
    return ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 'a' + 'A') : ch;
}

bool equals_ignoring_case(std::string_view text, std::string_view upper) {
    if (text.size() != upper.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (ascii_upper(text[i]) != upper[i]) return false;
    }
    return true;
}

// The DOS device names that Windows resolves in any folder. Code page 932 has
// no superscript digits, so "COM" and "LPT" only take 1-9 here.
bool is_device_name(std::string_view name) {
    if (name.size() == 3) {
        return equals_ignoring_case(name, "CON") || equals_ignoring_case(name, "PRN") ||
               equals_ignoring_case(name, "AUX") || equals_ignoring_case(name, "NUL");
    }
    if (name.size() == 4 && name[3] >= '1' && name[3] <= '9') {
        return equals_ignoring_case(name.substr(0, 3), "COM") ||
               equals_ignoring_case(name.substr(0, 3), "LPT");
    }
    return false;
}

void escape_byte_at(std::string& text, std::size_t at) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(text[at]));
    text.replace(at, 1, hex);
}

// One URL part as it becomes (part of) a file-name element.
std::string decoded_and_escaped(std::string part, bool plus_as_space) {
    percent_decode(part, plus_as_space);
    escape_for_file_name(part);
    return part;
}

}  // namespace

void guard_file_element(std::string& element) {
    if (element.empty()) return;

    const LastCharacter last = last_character(element);
    if (last.lone_lead) {
        escape_byte_at(element, last.start);
    } else if (last.start + 1 == element.size() &&
               (element.back() == '.' || element.back() == ' ')) {
        escape_byte_at(element, last.start);
    }

    // A trail byte is never "." or " " (they lie below 0x40), so the base name
    // can be cut byte by byte.
    std::size_t base_end = element.find('.');
    if (base_end == std::string::npos) base_end = element.size();
    while (base_end > 0 && element[base_end - 1] == ' ') --base_end;
    if (is_device_name(std::string_view(element).substr(0, base_end))) {
        escape_byte_at(element, base_end - 1);
    }
}

std::optional<std::string> url_relative_file_path(const ParsedUrl& url) {
    if (!url.scheme || !is_web_scheme(*url.scheme) || !url.host || !url.path) return std::nullopt;
    const std::string& path = *url.path;
    // Without the leading slash the first segment would run into the host
    // element and land in another host's folder.
    if (!path.empty() && path[0] != '/') return std::nullopt;

    std::string host = *url.host;
    if (url.port) host += ':' + *url.port;

    std::vector<std::string> elements;
    std::string current = decoded_and_escaped(std::move(host), false);
    if (current.empty()) return std::nullopt;  // would share the save folder's top level
    if (is_https(url)) current += kHttpsHostMark;

    std::size_t position = 0;
    while (position < path.size()) {
        const std::size_t slash = path.find('/', position);
        if (slash == std::string::npos) {
            current += decoded_and_escaped(path.substr(position), false);
            break;
        }
        if (slash > position) {
            current += decoded_and_escaped(path.substr(position, slash - position), false);
        }
        elements.push_back(std::move(current));
        current.clear();
        if (slash + 1 == path.size()) {
            current = "index.html";
            break;
        }
        position = slash + 1;
    }
    if (url.query) current += decoded_and_escaped('?' + *url.query, true);
    // A final element that decoded to nothing would name the folder itself.
    if (current.empty()) return std::nullopt;
    elements.push_back(std::move(current));

    std::string relative;
    for (std::size_t i = 0; i < elements.size(); ++i) {
        guard_file_element(elements[i]);
        if (i > 0) relative += '\\';
        relative += elements[i];
    }
    return relative;
}

std::optional<std::string> url_store_path(std::string_view save_folder, const ParsedUrl& url) {
    save_folder = save_folder.substr(0, save_folder.find('\0'));
    // An empty folder would put the page at the root of the current drive; a
    // dangling lead byte would swallow the separator after it.
    if (save_folder.empty() || last_character(save_folder).lone_lead) return std::nullopt;

    auto relative = url_relative_file_path(url);
    if (!relative) return std::nullopt;

    std::string store_path(save_folder);
    const long last_backslash =
        find_last_single_byte(store_path.data(), static_cast<long>(store_path.size()), '\\');
    if (last_backslash != static_cast<long>(store_path.size()) - 1) store_path += '\\';
    store_path += *relative;
    if (store_path.size() >= kPathBufferSize) return std::nullopt;
    return store_path;
}

std::vector<std::string> folders_above(std::string_view path) {
    path = path.substr(0, path.find('\0'));
    std::vector<std::string> folders;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (is_lead_byte(static_cast<unsigned char>(path[i]))) {
            ++i;  // the trail byte is never a separator
            continue;
        }
        if (path[i] != '\\' || i == 0 || path[i - 1] == ':') continue;
        folders.emplace_back(path.substr(0, i));
    }
    return folders;
}

}  // namespace vellum
