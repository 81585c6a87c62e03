#include "store/store_files_win.h"

#include <string>

#include "store/url_map.h"

namespace vellum {

FileHandle create_file_with_folders(std::string_view path) {
    for (const std::string& folder : folders_above(path)) {
        // Whatever already stands there, folder or file, is left alone; a
        // file in the way makes the final creation fail.
        if (GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
            CreateDirectoryA(folder.c_str(), nullptr);
        }
    }
    HANDLE handle;
    DWORD error;
    {
        const std::string file(path.substr(0, path.find('\0')));
        handle = CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        error = GetLastError();
    }
    // The caller logs the creation's own error; freeing the name must not
    // overwrite it.
    SetLastError(error);
    return FileHandle(handle);
}

}  // namespace vellum
