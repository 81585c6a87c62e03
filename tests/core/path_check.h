// Reads a path the way Windows does when a file is opened, to prove that a
// store path names an ordinary file below its save folder. Shared by the
// tests and the fuzz targets; no gtest dependency.
//
// What Windows does with an ANSI path, as far as it matters here: the bytes
// are converted with the code page's lead-byte table, so a lead byte always
// takes the next byte as its trail, even a backslash; "\" and "/" both
// separate; runs of separators collapse; "." and ".." are resolved; final dots
// and spaces of an element are dropped; and an element whose part before the
// first "." or ":" (final spaces removed) is a DOS device name opens the
// device.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/lead_byte.h"

namespace vellum::test {

struct WindowsElement {
    std::string name;      // as Windows uses it, final dots and spaces dropped
    bool trimmed = false;  // it had final dots or spaces
};

struct WindowsPathView {
    std::vector<WindowsElement> elements;
    bool climbed_above_start = false;  // a ".." with nothing left to remove
    bool dangling_lead = false;        // the path ends in a lead byte alone
};

inline char ascii_upper(char ch) {
    return ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 'a' + 'A') : ch;
}

inline bool same_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (ascii_upper(a[i]) != ascii_upper(b[i])) return false;
    }
    return true;
}

inline bool is_windows_device_name(std::string_view element) {
    std::size_t end = element.find_first_of(".:");
    if (end == std::string_view::npos) end = element.size();
    while (end > 0 && element[end - 1] == ' ') --end;
    const std::string_view base = element.substr(0, end);
    for (const char* device : {"CON", "PRN", "AUX", "NUL"}) {
        if (same_ignoring_case(base, device)) return true;
    }
    if (base.size() == 4 && base[3] >= '1' && base[3] <= '9') {
        return same_ignoring_case(base.substr(0, 3), "COM") ||
               same_ignoring_case(base.substr(0, 3), "LPT");
    }
    return false;
}

// Where the last character of `text` begins (a lead byte and its trail are
// one character); 0 for an empty text.
inline std::size_t last_character_start(std::string_view text) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size();) {
        start = i;
        i += is_lead_byte(static_cast<unsigned char>(text[i])) ? 2 : 1;
    }
    return start;
}

inline WindowsPathView read_like_windows(std::string_view path) {
    WindowsPathView view;
    std::vector<std::string> raw;
    std::string current;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const char ch = path[i];
        if (is_lead_byte(static_cast<unsigned char>(ch))) {
            current += ch;
            if (i + 1 < path.size()) {
                current += path[++i];
            } else {
                view.dangling_lead = true;
            }
            continue;
        }
        if (ch == '\\' || ch == '/') {
            if (!current.empty()) raw.push_back(std::move(current));
            current.clear();
            continue;
        }
        current += ch;
    }
    if (!current.empty()) raw.push_back(std::move(current));

    for (std::string& name : raw) {
        if (name == ".") continue;
        if (name == "..") {
            // A drive ("C:") is never removed, as Windows keeps the root.
            const bool only_drive =
                view.elements.size() == 1 && view.elements[0].name.size() == 2 &&
                view.elements[0].name[1] == ':';
            if (view.elements.empty() || only_drive) {
                view.climbed_above_start = true;
            } else {
                view.elements.pop_back();
            }
            continue;
        }
        // Only a single-byte final character is dropped: a lead byte takes a
        // "." after it as its trail even where that pair is no character.
        WindowsElement element;
        for (;;) {
            const std::size_t last = last_character_start(name);
            if (last + 1 != name.size() || (name.back() != '.' && name.back() != ' ')) break;
            name.pop_back();
            element.trimmed = true;
        }
        // Even an element trimmed to nothing stays, so that its loss is seen.
        element.name = std::move(name);
        view.elements.push_back(std::move(element));
    }
    return view;
}

// Empty when `path` names an ordinary file strictly below `folder`, in
// Windows' reading of both; otherwise what is wrong.
inline std::string store_path_fault(std::string_view folder, std::string_view path) {
    const WindowsPathView base = read_like_windows(folder);
    const WindowsPathView view = read_like_windows(path);
    if (view.climbed_above_start) return "climbs above the drive";
    if (view.dangling_lead) return "ends in a lead byte without its trail byte";
    if (view.elements.size() <= base.elements.size()) return "does not lie below the folder";
    for (std::size_t i = 0; i < base.elements.size(); ++i) {
        if (!same_ignoring_case(view.elements[i].name, base.elements[i].name)) {
            return "lies outside the folder";
        }
    }
    for (std::size_t i = base.elements.size(); i < view.elements.size(); ++i) {
        const WindowsElement& element = view.elements[i];
        if (element.trimmed) return "element '" + element.name + "' loses a final dot or space";
        if (is_windows_device_name(element.name)) return "element '" + element.name + "' is a device";
        for (std::size_t j = 0; j < element.name.size(); ++j) {
            const auto byte = static_cast<unsigned char>(element.name[j]);
            if (is_lead_byte(byte)) {
                ++j;
                continue;
            }
            if (byte < 0x20 || std::string_view("<>:\"|?*").find(element.name[j]) != std::string_view::npos) {
                return "element '" + element.name + "' holds a character Windows refuses";
            }
        }
    }
    return {};
}

}  // namespace vellum::test
