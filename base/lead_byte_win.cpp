// Windows build: the active ANSI code page's own lead-byte table.
#include <windows.h>

#include "base/lead_byte.h"

namespace vellum {

bool is_lead_byte(unsigned char byte) {
    return IsDBCSLeadByte(byte) != FALSE;
}

}  // namespace vellum
