#include "proxy/own_connections.h"

namespace vellum {

void OwnConnections::announce(std::uint16_t local_port, std::uint64_t now) {
    std::lock_guard lock(mutex_);
    drop_stale(now);
    announced_[local_port] = now;
}

bool OwnConnections::take(std::uint16_t peer_port, std::uint64_t now) {
    std::lock_guard lock(mutex_);
    drop_stale(now);
    return announced_.erase(peer_port) != 0;
}

std::size_t OwnConnections::pending() const {
    std::lock_guard lock(mutex_);
    return announced_.size();
}

void OwnConnections::drop_stale(std::uint64_t now) {
    std::erase_if(announced_, [now](const auto& entry) { return now - entry.second > kLifetime; });
}

OwnConnections& own_connections() {
    static OwnConnections registry;
    return registry;
}

}  // namespace vellum
