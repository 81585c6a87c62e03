// The registry of live browser connections, kept by the UI thread: one
// ConnectionRecord per accepted socket, from MWM_CLIENT_ACCEPTED until its
// thread is done with it (MWM_CONNECTION_DONE); the answers to the connection
// threads' socket requests (1066-1069); the forced-get queue, replayed to the
// proxy's own port when the last connection has ended; and the connection
// side of the close sequence.
//
// UI thread only. The registry owns the records and every socket in them;
// connection threads reach them only through the messages answered here,
// each answered by a thread message with the same number and wParam 0.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "proxy/connection_record.h"
#include "proxy/connection_workers_win.h"
#include "proxy/ui_requests.h"
#include "http/line_list.h"

namespace vellum {

enum class AcceptOutcome {
    started,        // the record is registered and its thread runs
    refused,        // closing, or no memory: the socket was closed
    thread_failed,  // the socket was closed; the program must close
};

class ConnectionRegistry {
public:
    ConnectionRegistry();
    ~ConnectionRegistry();
    ConnectionRegistry(const ConnectionRegistry&) = delete;
    ConnectionRegistry& operator=(const ConnectionRegistry&) = delete;

    // MWM_CLIENT_ACCEPTED. `record` holds the settings snapshot (or is null
    // when it could not be made); the registry adds the sockets and hands the
    // record to a connection thread.
    AcceptOutcome accept(SOCKET socket, std::unique_ptr<ConnectionRecord> record);
    // MWM_CONNECTION_DONE: unlinks the record, waits until its thread is done
    // with it and frees it. False for a record the registry does not hold
    // (nothing is touched then).
    bool finish(ConnectionRecord* record);

    // The answers to 1066-1069.
    void open_server_socket(const SocketRequest& request);
    void close_server_socket(const SocketRequest& request);
    void close_client_socket(const SocketRequest& request);
    void mark_autoget(const MarkAutoget& request);

    // From now on no connection starts and no server socket is handed out.
    void set_closing() { closing_ = true; }
    bool closing() const { return closing_; }
    // CTM_ABORT to every live thread and both its sockets closed, which makes
    // any blocked socket call of the thread fail.
    void abort_all();

    int count() const { return static_cast<int>(records_.size()); }
    bool holds(const ConnectionRecord* record) const;
    // Live records in accept order (the auto-get stop command marks them).
    const std::vector<std::unique_ptr<ConnectionRecord>>& records() const { return records_; }

    // The forced-get queue. A request whose first line is already queued is
    // refused (false).
    bool queue_forced_get(LineList request);
    std::size_t queued_forced_gets() const { return forced_gets_.size(); }
    // Sends the oldest entry to the proxy's own listening address and drops
    // it; an entry that can't be sent stays for the next time.
    void replay_forced_get(std::uint32_t address, std::uint16_t port);
    void clear_forced_gets() { forced_gets_.clear(); }

private:
    std::vector<std::unique_ptr<ConnectionRecord>> records_;
    std::deque<LineList> forced_gets_;
    bool closing_ = false;
    // Declared last: ended first, after no record is left to hand out.
    ConnectionWorkers workers_;
};

}  // namespace vellum
