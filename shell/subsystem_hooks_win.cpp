#include "shell/subsystem_hooks_win.h"

namespace vellum {

bool autoget_schedule_waiting() {
    return false;
}

bool dialup_is_connected() {
    return false;
}

int dialup_hang_up_all() {
    return 0;
}

void cookie_jar_load() {}
void credentials_load() {}
void cookie_jar_save_and_free() {}
void credentials_save_and_free() {}

}  // namespace vellum
