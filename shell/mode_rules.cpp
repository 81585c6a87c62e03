#include "shell/mode_rules.h"

#include "resources/resource.h"

namespace vellum {

void toggle_internet(Settings& s) {
    s.internet = s.internet ? 0 : 1;
    if (!s.internet) s.localize = 0;
}

void toggle_localize(Settings& s) {
    s.localize = s.localize ? 0 : 1;
    if (s.localize && !s.internet) s.internet = 1;
}

void step_mode(Settings& s) {
    if (s.localize && !s.internet) s.localize = 0;
    if (!s.internet) {
        s.internet = 1;
    } else if (!s.localize) {
        s.localize = 1;
    } else {
        s.internet = 0;
        s.localize = 0;
    }
}

int mode_icon_id(const Settings& s, int live_connections) {
    if (live_connections > 0) {
        if (s.localize) return IDI_RECORDING_BUSY;
        return s.internet ? IDI_ONLINE_BUSY : IDI_OFFLINE_BUSY;
    }
    if (s.localize) return IDI_RECORDING;
    return s.internet ? IDI_ONLINE : IDI_OFFLINE;
}

}  // namespace vellum
