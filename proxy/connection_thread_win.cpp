#include "proxy/connection_thread_win.h"

#include "proxy/connection_handler_win.h"
#include "proxy/connection_record.h"

namespace vellum {

DWORD WINAPI connection_thread(void* record) {
    return static_cast<DWORD>(run_connection(*static_cast<ConnectionRecord*>(record)));
}

}  // namespace vellum
