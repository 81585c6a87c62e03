#include "proxy/connection_workers_win.h"

#include <algorithm>
#include <mutex>

#include "base/messages.h"
#include "proxy/connection_io_win.h"

namespace vellum {

struct ConnectionWorkers::Shared {
    ServeConnection serve;
    WorkerLimits limits;
    mutable std::mutex mutex;  // guards everything below and each worker's `record`
    std::vector<std::unique_ptr<Worker>> workers;  // serving or idle; an ending one takes itself out
    std::vector<Worker*> idle;  // the most recently idle last
    bool ending = false;

    std::unique_ptr<Worker> take_out(Worker* worker);
};

struct ConnectionWorkers::Worker {
    std::shared_ptr<Shared> shared;
    KernelHandle thread;
    DWORD id = 0;
    KernelHandle wake;  // auto-reset: a record was handed over, or the pool ends
    ConnectionRecord* record = nullptr;  // the next record to serve; shared mutex

    void hand_over(ConnectionRecord& next);  // shared mutex held
    ConnectionRecord* next_record();
    void serve(ConnectionRecord& record);
};

void ConnectionWorkers::Worker::hand_over(ConnectionRecord& next) {
    // The thread must know where replies go before it can ask anything.
    next.thread_id = id;
    next.in_worker.store(true, std::memory_order_release);
    record = &next;
}

ConnectionWorkers::ConnectionWorkers(ServeConnection serve, WorkerLimits limits)
    : shared_(std::make_shared<Shared>()) {
    shared_->serve = serve;
    shared_->limits = limits;
}

ConnectionWorkers::~ConnectionWorkers() {
    // Idle workers end now and are waited for; a worker still serving a
    // connection (only when the process is going away) keeps the shared state.
    std::vector<KernelHandle> idle_threads;
    {
        std::lock_guard<std::mutex> hold(shared_->mutex);
        shared_->ending = true;
        for (Worker* idle : shared_->idle) {
            HANDLE thread = nullptr;
            if (DuplicateHandle(GetCurrentProcess(), idle->thread.get(), GetCurrentProcess(), &thread, SYNCHRONIZE,
                                FALSE, 0)) {
                idle_threads.emplace_back(thread);
            }
            SetEvent(idle->wake.get());
        }
    }
    for (KernelHandle& thread : idle_threads) WaitForSingleObject(thread.get(), INFINITE);
}

bool ConnectionWorkers::start(ConnectionRecord& record) {
    {
        std::lock_guard<std::mutex> hold(shared_->mutex);
        if (!shared_->idle.empty()) {
            Worker* worker = shared_->idle.back();
            shared_->idle.pop_back();
            worker->hand_over(record);
            SetEvent(worker->wake.get());
            return true;
        }
    }
    return start_worker(record);
}

bool ConnectionWorkers::start_worker(ConnectionRecord& record) {
    auto worker = std::make_unique<Worker>();
    worker->shared = shared_;
    worker->wake.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    if (!worker->wake) return false;
    worker->thread.reset(CreateThread(nullptr, 0, &worker_main, worker.get(), CREATE_SUSPENDED, &worker->id));
    if (!worker->thread) return false;
    Worker* started = worker.get();
    {
        std::lock_guard<std::mutex> hold(shared_->mutex);
        started->hand_over(record);
        shared_->workers.push_back(std::move(worker));
    }
    ResumeThread(started->thread.get());
    return true;
}

void ConnectionWorkers::wait_released(const ConnectionRecord& record) {
    // The worker clears the flag right after posting MWM_CONNECTION_DONE, so
    // this rarely waits at all, and never for long.
    while (record.in_worker.load(std::memory_order_acquire)) SwitchToThread();
}

std::size_t ConnectionWorkers::idle_count() const {
    std::lock_guard<std::mutex> hold(shared_->mutex);
    return shared_->idle.size();
}

std::size_t ConnectionWorkers::thread_count() const {
    std::lock_guard<std::mutex> hold(shared_->mutex);
    return shared_->workers.size();
}

DWORD WINAPI ConnectionWorkers::worker_main(void* param) {
    Worker* worker = static_cast<Worker*>(param);
    const std::shared_ptr<Shared> shared = worker->shared;
    ensure_thread_queue();
    while (ConnectionRecord* record = worker->next_record()) worker->serve(*record);
    // Its handles close with it; whoever waits for this thread holds its own.
    shared->take_out(worker).reset();
    return 0;
}

std::unique_ptr<ConnectionWorkers::Worker> ConnectionWorkers::Shared::take_out(Worker* worker) {
    std::lock_guard<std::mutex> hold(mutex);
    auto found = std::find_if(workers.begin(), workers.end(), [worker](const auto& w) { return w.get() == worker; });
    if (found == workers.end()) return nullptr;
    std::unique_ptr<Worker> taken = std::move(*found);
    workers.erase(found);
    return taken;
}

ConnectionRecord* ConnectionWorkers::Worker::next_record() {
    Shared& pool = *shared;
    DWORD idle_milliseconds;
    {
        std::lock_guard<std::mutex> hold(pool.mutex);
        if (record) return std::exchange(record, nullptr);  // a new worker's first
        if (pool.ending) return nullptr;
        idle_milliseconds = pool.idle.size() < pool.limits.max_idle ? pool.limits.idle_milliseconds
                                                                    : pool.limits.extra_idle_milliseconds;
        pool.idle.push_back(this);
    }
    for (;;) {
        const DWORD waited = WaitForSingleObject(wake.get(), idle_milliseconds);
        std::lock_guard<std::mutex> hold(pool.mutex);
        // A record handed over just as the wait timed out is still served.
        if (record) return std::exchange(record, nullptr);
        if (pool.ending || waited != WAIT_OBJECT_0) {
            pool.idle.erase(std::remove(pool.idle.begin(), pool.idle.end(), this), pool.idle.end());
            return nullptr;
        }
        // A wake left over from a hand-over that a timeout had already taken.
    }
}

void ConnectionWorkers::Worker::serve(ConnectionRecord& served) {
    // A CTM_ABORT that reached this thread while it was idle was meant for a
    // connection that has ended, or for none: it must not end this one. One
    // posted for this record (the close sequence may come first) must stay.
    abort_pending();
    if (served.abort_posted.load(std::memory_order_acquire)) PostThreadMessageA(id, CTM_ABORT, 0, 0);
    shared->serve(served);
    served.in_worker.store(false, std::memory_order_release);  // the last touch of the record
}

}  // namespace vellum
