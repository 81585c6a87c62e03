// The entry of a connection thread, started by the connection registry with
// the connection's record. The thread serves its one request and, as its last
// act, posts MWM_CONNECTION_DONE, on which the UI thread joins it and frees
// the record.
#pragma once

#include <windows.h>

namespace vellum {

DWORD WINAPI connection_thread(void* record);

}  // namespace vellum
