// Formatting with the platform's wsprintfA rules, as every message, status
// text and generated page line of the program is formatted: the result is cut
// at wsprintfA's 1024-byte limit. Any thread.
#pragma once

#include <string>

namespace vellum {

std::string format_text(const char* format, ...);

}  // namespace vellum
