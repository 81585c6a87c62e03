#include "base/format_win.h"

#include <windows.h>

#include <cstdarg>
#include <cstring>

namespace vellum {

std::string format_text(const char* format, ...) {
    // wvsprintfA never writes more than 1024 bytes; the rest of the buffer is slack.
    char buffer[2048] = {};
    va_list args;
    va_start(args, format);
    int result = wvsprintfA(buffer, format, args);
    va_end(args);
    if (result < 0) return std::string();
    // At the limit the count returned may include the terminating zero; the
    // text itself ends where the zero is.
    return std::string(buffer, strnlen(buffer, sizeof buffer));
}

}  // namespace vellum
