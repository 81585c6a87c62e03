#include "tessel/reserve_win.h"

#include <optional>

#include "base/prompt.h"
#include "reservation/send_reservation_win.h"

namespace vellum {

void reserve_auto_get(const wchar_t* url, const wchar_t* referer, const wchar_t* user_agent) {
    if (const std::optional<ReservationFailure> failure = send_reservation(url, referer, user_agent))
        show_message(nullptr, reservation_failure_text(*failure), kComponentCaption, MB_OK | MB_ICONWARNING);
}

}  // namespace vellum
