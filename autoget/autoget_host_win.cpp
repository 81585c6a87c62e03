#include "autoget/autoget_host_win.h"

#include "proxy/connection_registry_win.h"

namespace vellum {

void cut_crawler_transfers(ConnectionRegistry& connections) {
    for (const auto& record : connections.records()) {
        // Published before the cut: a thread making its server socket just
        // now looks at the flag after publishing the socket, so one of the
        // two sees the other.
        record->autoget_stopped = true;
        // The transfer's blocked receive fails at once.
        if (record->autoget_connection) close_socket_slot(record->server_socket);
    }
}

}  // namespace vellum
