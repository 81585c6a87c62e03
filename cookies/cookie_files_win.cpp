#include "cookies/cookie_files_win.h"

#include <algorithm>
#include <utility>

#include "base/clock.h"
#include "base/lead_byte.h"
#include "base/registry_win.h"
#include "base/win_handles.h"
#include "store/store_files_win.h"

namespace vellum {
namespace {

bool write_with_write_file(HANDLE file, const char* data, DWORD size) {
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(file, data, size, &written, nullptr) || written == 0) return false;
        data += written;
        size -= written;
    }
    return true;
}

FileWriteFunction g_write = write_with_write_file;

bool write_all(HANDLE file, std::string_view bytes) {
    constexpr std::size_t kChunk = 1 << 20;
    for (std::size_t done = 0; done < bytes.size(); done += kChunk) {
        const std::size_t size = std::min(kChunk, bytes.size() - done);
        if (!g_write(file, bytes.data() + done, static_cast<DWORD>(size))) return false;
    }
    return true;
}

}  // namespace

std::string program_folder() {
    const std::string module = program_module_path();
    const long slash = find_last_single_byte(module.data(), static_cast<long>(module.size()), '\\');
    return slash < 0 ? std::string() : module.substr(0, static_cast<std::size_t>(slash));
}

std::string path_in_folder(std::string_view folder, std::string_view name) {
    std::string path(folder);
    const long last = static_cast<long>(path.size()) - 1;
    if (last < 0 || find_last_single_byte(path.data(), last + 1, '\\') != last) path += '\\';
    path += name;
    return path;
}

std::optional<std::string> read_whole_file(const std::string& path) {
    FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::nullopt;
    std::string bytes;
    char buffer[64 * 1024];
    DWORD read = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.append(buffer, read);
    return bytes;
}

bool replace_file(const std::string& path, std::string_view bytes) {
    const std::string fresh = path + kNewFileSuffix;
    bool complete;
    {
        FileHandle file = create_file_with_folders(fresh);
        if (!file) return false;
        // The new file must be on the disk before it takes the old one's name,
        // or a crash right after the rename could leave an empty file there.
        complete = write_all(file.get(), bytes) && FlushFileBuffers(file.get());
    }
    if (complete &&
        MoveFileExA(fresh.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return true;
    }
    DeleteFileA(fresh.c_str());
    return false;
}

FileWriteFunction set_file_write_function(FileWriteFunction write) {
    return std::exchange(g_write, write ? write : write_with_write_file);
}

void cookie_jar_load(CookieJar& jar, std::string_view folder) {
    cookie_jar_load_text(jar, read_whole_file(path_in_folder(folder, kCookieFileName)).value_or(""));
}

bool cookie_jar_save(const CookieJar& jar, std::string_view folder) {
    return replace_file(path_in_folder(folder, kCookieFileName), cookie_jar_file_text(jar, current_time_utc()));
}

bool cookie_jar_save_and_free(CookieJar& jar, std::string_view folder) {
    const bool saved = cookie_jar_save(jar, folder);
    jar = CookieJar{};
    return saved;
}

void credentials_load(CredentialStore& store, std::string_view folder) {
    credentials_load_text(store, read_whole_file(path_in_folder(folder, kCredentialFileName)).value_or(""));
}

bool credentials_save_and_free(CredentialStore& store, std::string_view folder) {
    const bool saved = replace_file(path_in_folder(folder, kCredentialFileName), credentials_file_text(store));
    store = CredentialStore{};
    return saved;
}

}  // namespace vellum
