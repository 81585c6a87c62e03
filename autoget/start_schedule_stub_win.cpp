// The schedule wait of a program built without the auto-get start dialog:
// nothing ever waits.
#include "autoget/start_schedule_win.h"

namespace vellum {

bool autoget_schedule_waiting() {
    return false;
}

}  // namespace vellum
