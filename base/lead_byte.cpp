#include "base/lead_byte.h"

namespace vellum {

long find_last_single_byte(const char* text, long length, char ch) {
    long found = -1;
    for (long i = 0; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (is_lead_byte(byte)) {
            if (i + 1 < length) ++i;  // the trail byte is never a separator
            continue;
        }
        if (text[i] == ch) found = i;
    }
    return found;
}

}  // namespace vellum
