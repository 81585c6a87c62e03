// The program's own connections to its proxy port: the crawler thread's
// requests and the forced-get queue's replays. Only these may carry the
// proxy's own request lines ("Vellum-Mode: …", "Vellum-LocalPath: …"); on any
// other connection those lines are ordinary unknown headers, so that a web
// page can't make the program record into a folder of its choosing.
//
// Nothing on the wire tells them apart: the sender announces the local port
// of its connected socket before it sends a byte, and the connection thread
// that accepted the peer with that port takes the announcement (once). An
// announcement nobody takes (the proxy refused the connection, say) is
// dropped after kOwnConnectionLifetime, or when the same port is announced
// again. Any thread.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>

namespace vellum {

class OwnConnections {
public:
    // A port announced longer ago than this is no longer taken: the proxy
    // accepts its own connections at once.
    static constexpr std::uint64_t kLifetime = 60ull * 10'000'000;  // file-time units: 60 s

    // `now` in file-time units (base/clock.h).
    void announce(std::uint16_t local_port, std::uint64_t now);
    // True (and the announcement is gone) when `peer_port` was announced and
    // is still fresh.
    bool take(std::uint16_t peer_port, std::uint64_t now);
    std::size_t pending() const;

private:
    void drop_stale(std::uint64_t now);

    mutable std::mutex mutex_;
    std::map<std::uint16_t, std::uint64_t> announced_;  // port → when
};

// The process-wide registry.
OwnConnections& own_connections();

}  // namespace vellum
