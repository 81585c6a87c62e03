#include "store/store_files_win.h"

#include <string>

#include "store/folder_listing_win.h"
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
    FileHandle file;
    DWORD error;
    {
        // Through the store's own creation, so that the folder's kept listing
        // (store/folder_listing_win.h) learns of a receiving file made under
        // the store lock.
        const std::string name(path.substr(0, path.find('\0')));
        file = store_create_file(name, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL);
        error = GetLastError();
    }
    // The caller logs the creation's own error; freeing the name must not
    // overwrite it.
    SetLastError(error);
    return file;
}

}  // namespace vellum
