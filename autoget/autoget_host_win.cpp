#include "autoget/autoget_host_win.h"

#include "proxy/connection_registry_win.h"

namespace vellum {

void cut_crawler_transfers(ConnectionRegistry& connections) {
    for (const auto& record : connections.records()) {
        if (record->autoget_connection) {
            // The transfer's blocked receive fails at once.
            SOCKET server = record->server_socket.exchange(INVALID_SOCKET);
            if (server != INVALID_SOCKET) closesocket(server);
        }
        record->autoget_stopped = true;
    }
}

}  // namespace vellum
