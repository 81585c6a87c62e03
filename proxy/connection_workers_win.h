// The threads connections run on. Each connection has a thread of its own
// while it runs; a thread which has served its connection stays a while for
// the next one instead of ending. Under Wine a
// new thread costs more than serving a small page: its stack is mapped and
// cleared page by page on every start, and unmapped again at its end.
//
// The UI thread hands records out (start) and takes them back on
// MWM_CONNECTION_DONE (wait_released); the workers take them, serve them and
// come back. A worker that stays idle for `idle_milliseconds` ends and frees
// what it holds; one that found `max_idle` others idle ends sooner.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "base/win_handles.h"
#include "proxy/connection_record.h"
#include "proxy/connection_status.h"

namespace vellum {

using ServeConnection = ConnectionStatus (*)(ConnectionRecord& record);

struct WorkerLimits {
    std::size_t max_idle = 16;
    DWORD idle_milliseconds = 30 * 1000;
    // How long a worker beyond `max_idle` waits. Under a burst more than
    // `max_idle` go idle for a moment; ending them at once would start as
    // many threads again a moment later.
    DWORD extra_idle_milliseconds = 2 * 1000;
};

class ConnectionWorkers {
public:
    explicit ConnectionWorkers(ServeConnection serve, WorkerLimits limits = {});
    // Idle workers end and are waited for. A worker still serving a connection
    // (only when the process is going away) is left to it, with its state.
    ~ConnectionWorkers();
    ConnectionWorkers(const ConnectionWorkers&) = delete;
    ConnectionWorkers& operator=(const ConnectionWorkers&) = delete;

    // UI thread. Hands `record` to an idle worker or starts a new one, and
    // fills in the record's thread id before the worker can run. False when
    // no thread could be started; the record is untouched then.
    bool start(ConnectionRecord& record);
    // UI thread, on the record's MWM_CONNECTION_DONE: returns once the worker
    // is done with the record (it posts that message just before), so that
    // the record can be freed.
    static void wait_released(const ConnectionRecord& record);

    std::size_t idle_count() const;
    std::size_t thread_count() const;  // serving or idle

private:
    struct Shared;
    struct Worker;
    static DWORD WINAPI worker_main(void* param);
    bool start_worker(ConnectionRecord& record);

    // What the workers share with the pool; a worker still serving when the
    // pool goes keeps it alive.
    std::shared_ptr<Shared> shared_;
};

}  // namespace vellum
