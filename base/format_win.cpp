#include "base/format_win.h"

#include <windows.h>

#include <cstdarg>

namespace vellum {

std::string format_text(const char* format, ...) {
    // wvsprintfA never writes more than 1024 bytes; the rest of the buffer is slack.
    char buffer[2048] = {};
    va_list args;
    va_start(args, format);
    int length = wvsprintfA(buffer, format, args);
    va_end(args);
    if (length < 0) return std::string();
    return std::string(buffer, static_cast<std::size_t>(length));
}

}  // namespace vellum
