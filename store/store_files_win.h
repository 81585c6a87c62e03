// Creating a store file for writing together with every folder above it: the
// receiving and companion files of a recording, and the cookie and credential
// files beside the program. Any thread; the caller owns the handle.
#pragma once

#include <string_view>

#include "base/win_handles.h"

namespace vellum {

// Makes each missing folder on the way (folders_above in store/url_map.h),
// then creates or truncates the file: write access, others may read it,
// normal attributes. Whether a folder could be made is not checked; the file
// creation alone decides. An invalid handle on failure, with GetLastError
// still telling the caller's log why.
FileHandle create_file_with_folders(std::string_view path);

}  // namespace vellum
