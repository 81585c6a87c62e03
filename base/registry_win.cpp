#include "base/registry_win.h"

#include <algorithm>
#include <vector>

namespace vellum {

RegKey open_or_create_key(HKEY root, const char* path, LONG* error) {
    LONG result = ERROR_INVALID_HANDLE;
    HKEY key = nullptr;
    if (root) {
        char no_class[] = "";
        DWORD disposition = 0;
        result = RegCreateKeyExA(root, path, 0, no_class, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                                 &disposition);
    }
    if (error) *error = result;
    return result == ERROR_SUCCESS ? RegKey(key) : RegKey();
}

RegKey open_key_for_writing(HKEY root, const char* path) {
    if (!root) return {};
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return {};
    return RegKey(key);
}

RegKey open_key_for_reading(HKEY root, const char* path, LONG* error) {
    LONG result = ERROR_INVALID_HANDLE;
    HKEY key = nullptr;
    if (root) result = RegOpenKeyExA(root, path, 0, KEY_READ, &key);
    if (error) *error = result;
    return result == ERROR_SUCCESS ? RegKey(key) : RegKey();
}

bool delete_key_tree(HKEY root, const char* path) {
    if (!root) return false;
    const LONG result = RegDeleteTreeA(root, path);
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) return false;
    // The documentation promises only the key's contents; make sure the key
    // itself goes too.
    const LONG removed = RegDeleteKeyA(root, path);
    return removed == ERROR_SUCCESS || removed == ERROR_FILE_NOT_FOUND;
}

bool write_dword(HKEY key, const char* name, std::uint32_t value) {
    if (!key) return false;
    const DWORD data = value;
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data) ==
           ERROR_SUCCESS;
}

std::uint32_t read_dword(HKEY key, const char* name, std::uint32_t default_value) {
    return find_dword(key, name).value_or(default_value);
}

std::optional<std::uint32_t> find_dword(HKEY key, const char* name) {
    if (!key) return std::nullopt;
    DWORD data = 0;
    DWORD count = sizeof data;
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&data), &count) != ERROR_SUCCESS)
        return std::nullopt;
    // Fewer bytes would leave part of the number undefined.
    if (count != sizeof data) return std::nullopt;
    return data;
}

bool write_string(HKEY key, const char* name, const std::string& text) {
    if (!key) return false;
    // The terminator is counted, as RegSetValueEx asks: without it an empty
    // text is stored as no bytes at all, which other readers (reg, regedit)
    // show as garbage. Values stored without one still read the same.
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
}

std::string read_string(HKEY key, const char* name, std::string_view default_text, std::size_t size) {
    // The default is given whole, even where it is longer than `size`: the
    // link-extension list's default is longer than a short stored list's buffer.
    const auto fallback = [&] { return std::string(default_text); };
    if (!key || size == 0) return fallback();

    // The stored size only bounds the buffer: the ANSI query may report more
    // than the converted text needs, and a length read from the registry
    // itself (the link-extension list) must not decide an allocation.
    DWORD stored = 0;
    if (RegQueryValueExA(key, name, nullptr, nullptr, nullptr, &stored) != ERROR_SUCCESS) return fallback();
    const std::size_t capacity = std::min<std::size_t>({size, std::size_t{stored} + 1, MAXDWORD});

    std::vector<char> buffer(capacity, '\0');
    DWORD count = static_cast<DWORD>(capacity);
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()), &count) !=
        ERROR_SUCCESS)
        return fallback();  // longer than the buffer, or gone meanwhile
    const std::string_view data(buffer.data(), std::min<std::size_t>(count, capacity));
    const std::size_t zero = data.find('\0');
    if (zero != std::string_view::npos) return std::string(data.substr(0, zero));
    // Without a terminator the text must still leave room for one.
    if (data.size() >= size) return fallback();
    return std::string(data);
}

std::string program_module_path() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    // A cut path still ends in a real folder of the program: take what came.
    return std::string(path, std::min<DWORD>(length, MAX_PATH));
}

}  // namespace vellum
