#include "proxy/connection_registry_win.h"

#include <algorithm>
#include <new>

#include "proxy/connection_io_win.h"
#include "proxy/connection_handler_win.h"
#include "proxy/own_connections_win.h"

namespace vellum {

ConnectionRegistry::ConnectionRegistry() : workers_(&run_connection) {}

ConnectionRegistry::~ConnectionRegistry() {
    // Only reached with live threads when the session ends and the process
    // goes with it; the records must outlive their threads, so they stay.
    for (auto& record : records_) record.release();
}

AcceptOutcome ConnectionRegistry::accept(SOCKET socket, std::unique_ptr<ConnectionRecord> record) {
    if (closing_ || !record) {
        closesocket(socket);
        return AcceptOutcome::refused;
    }
    record->client_socket = socket;
    record->server_socket = INVALID_SOCKET;
    record->autoget_connection = false;
    record->autoget_stopped = false;
    // Room first, so that a started thread always has its record registered.
    if (records_.size() == records_.capacity()) {
        records_.reserve(records_.size() * 2 + 4);
    }
    if (!workers_.start(*record)) {
        closesocket(socket);
        return AcceptOutcome::thread_failed;
    }
    records_.push_back(std::move(record));
    return AcceptOutcome::started;
}

bool ConnectionRegistry::holds(const ConnectionRecord* record) const {
    return std::any_of(records_.begin(), records_.end(), [record](const auto& r) { return r.get() == record; });
}

bool ConnectionRegistry::finish(ConnectionRecord* record) {
    auto it = std::find_if(records_.begin(), records_.end(), [record](const auto& r) { return r.get() == record; });
    if (it == records_.end()) return false;
    std::unique_ptr<ConnectionRecord> owned = std::move(*it);
    records_.erase(it);
    ConnectionWorkers::wait_released(*owned);
    close_socket_slot(owned->client_socket);
    close_socket_slot(owned->server_socket);
    return true;
}

void ConnectionRegistry::open_server_socket(const SocketRequest& request) {
    ConnectionRecord* record = request.record;
    close_socket_slot(record->server_socket);  // a second request must not leak the first socket
    if (!closing_ && !(record->autoget_connection && record->autoget_stopped)) {
        record->server_socket = socket(AF_INET, SOCK_STREAM, 0);
    }
    request.answer();
}

void ConnectionRegistry::close_server_socket(const SocketRequest& request) {
    close_socket_slot(request.record->server_socket);
    request.answer();
}

void ConnectionRegistry::close_client_socket(const SocketRequest& request) {
    close_socket_slot(request.record->client_socket);
    request.answer();
}

void ConnectionRegistry::mark_autoget(const MarkAutoget& request) {
    request.record->autoget_connection = request.mark;
    request.answer();
}

void ConnectionRegistry::abort_all() {
    for (auto& record : records_) {
        post_abort(*record);
        close_socket_slot(record->server_socket);
        close_socket_slot(record->client_socket);
    }
}

bool ConnectionRegistry::queue_forced_get(LineList request) {
    if (request.empty()) return false;
    const std::string& first = request.front();
    if (std::any_of(forced_gets_.begin(), forced_gets_.end(),
                    [&first](const LineList& queued) { return queued.front() == first; })) {
        return false;
    }
    forced_gets_.push_back(std::move(request));
    return true;
}

void ConnectionRegistry::replay_forced_get(std::uint32_t address, std::uint16_t port) {
    if (forced_gets_.empty()) return;
    UniqueSocket own(socket(AF_INET, SOCK_STREAM, 0));
    if (!own) return;
    sockaddr_in at{};
    at.sin_family = AF_INET;
    // Listening on every interface: the loopback one is ours too.
    at.sin_addr.s_addr = htonl(address == INADDR_ANY ? INADDR_LOOPBACK : address);
    at.sin_port = htons(port);
    if (connect(own.get(), reinterpret_cast<sockaddr*>(&at), sizeof at) == SOCKET_ERROR) return;
    // Unannounced, its marker lines would be a stranger's and do nothing.
    if (!announce_own_connection(own.get())) return;
    send_lines(own.get(), forced_gets_.front());
    forced_gets_.pop_front();
}

}  // namespace vellum
