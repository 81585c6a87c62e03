#include "shell/reservation_win.h"

#include "autoget/autoget_window.h"
#include "resources/resource.h"
#include "shell/main_window.h"
#include "shell/settings.h"

namespace vellum {

void reserve_for_autoget(const ProxyRequest& request) {
    HWND main = main_window();
    if (autoget_reserve(main, request, settings().localPath) == ReserveOutcome::added && main) {
        SendMessageA(main, WM_COMMAND, ID_OPEN_AUTOGET, 0);
    }
}

}  // namespace vellum
