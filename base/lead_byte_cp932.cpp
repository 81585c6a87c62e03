// Host build: code page 932's lead bytes (the Windows table has the same ranges).
#include "base/lead_byte.h"

namespace vellum {

bool is_lead_byte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

}  // namespace vellum
