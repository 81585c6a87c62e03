#include "shell/reservation_win.h"

#include "base/prompt.h"
#include "shell/main_window.h"

namespace vellum {

void reserve_for_autoget(const ProxyRequest& request) {
    if (!request.method || *request.method != "GET") {
        show_warning(main_window(), "リクエストメソッドが「GET」ではないので、自動取得に予約できません！");
        return;
    }
    // The page tree takes the request as a new base URL once it exists.
}

}  // namespace vellum
