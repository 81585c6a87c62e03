// The threads connections run on: one thread per running connection, kept
// for the next connection once idle, ended when idle too long or too many,
// and a CTM_ABORT left from an earlier connection kept from the next one.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <memory>
#include <set>
#include <vector>

#include "base/messages.h"
#include "base/win_handles.h"
#include "proxy/connection_io_win.h"
#include "proxy/connection_record.h"
#include "proxy/connection_workers_win.h"

namespace vellum {
namespace {

// What the connections under test saw. One test at a time uses it.
struct Served {
    KernelHandle go{CreateEventA(nullptr, TRUE, TRUE, nullptr)};  // closed: connections wait
    std::atomic<int> count{0};
    std::atomic<int> running{0};
    std::vector<DWORD> threads = std::vector<DWORD>(64);
    std::vector<bool> saw_abort = std::vector<bool>(64);
    std::vector<KernelHandle> thread_handles = std::vector<KernelHandle>(64);  // to see the thread end
};
Served* g_served = nullptr;

ConnectionStatus serve_for_test(ConnectionRecord& record) {
    const int index = static_cast<int>(record.request_idle_seconds);  // the record's number in the test
    g_served->threads[index] = GetCurrentThreadId();
    g_served->thread_handles[index].reset(OpenThread(SYNCHRONIZE, FALSE, GetCurrentThreadId()));
    g_served->saw_abort[index] = abort_pending();
    ++g_served->running;
    WaitForSingleObject(g_served->go.get(), INFINITE);
    --g_served->running;
    ++g_served->count;
    return ConnectionStatus::ok;
}

template <typename Condition>
bool eventually(Condition condition) {
    for (int i = 0; i < 500; ++i) {
        if (condition()) return true;
        Sleep(10);
    }
    return condition();
}

class ConnectionWorkersTest : public ::testing::Test {
protected:
    void SetUp() override { g_served = &served; }
    void TearDown() override {
        SetEvent(served.go.get());
        g_served = nullptr;
    }

    std::unique_ptr<ConnectionRecord> record(int number) {
        auto made = std::make_unique<ConnectionRecord>();
        made->request_idle_seconds = number;
        return made;
    }
    // Starts the record and waits until its connection has been served and
    // the worker has let it go, as the UI thread does on MWM_CONNECTION_DONE.
    void serve_through(ConnectionWorkers& workers, ConnectionRecord& r) {
        const int before = served.count;
        ASSERT_TRUE(workers.start(r));
        ASSERT_TRUE(eventually([&] { return served.count > before; }));
        ConnectionWorkers::wait_released(r);
    }

    Served served;
};

TEST_F(ConnectionWorkersTest, ConnectionsOneAfterAnotherRunOnTheSameThread) {
    ConnectionWorkers workers(&serve_for_test);
    auto first = record(0), second = record(1);
    serve_through(workers, *first);
    ASSERT_TRUE(eventually([&] { return workers.idle_count() == 1; }));
    serve_through(workers, *second);

    EXPECT_EQ(served.threads[0], first->thread_id);  // replies reach the thread that runs it
    EXPECT_EQ(served.threads[1], second->thread_id);
    EXPECT_EQ(first->thread_id, second->thread_id);
    EXPECT_NE(first->thread_id, GetCurrentThreadId());
    EXPECT_EQ(workers.thread_count(), 1u);
    EXPECT_FALSE(second->in_worker.load());
}

TEST_F(ConnectionWorkersTest, ConnectionsRunningTogetherEachHaveAThreadAndTheIdleOnesBeyondTheLimitEndSooner) {
    ResetEvent(served.go.get());
    ConnectionWorkers workers(&serve_for_test, WorkerLimits{2, 60 * 1000, 100});
    std::vector<std::unique_ptr<ConnectionRecord>> records;
    for (int i = 0; i < 5; ++i) {
        records.push_back(record(i));
        ASSERT_TRUE(workers.start(*records.back()));
    }
    ASSERT_TRUE(eventually([&] { return served.running == 5; }));
    std::set<DWORD> threads;
    for (auto& r : records) threads.insert(r->thread_id);
    EXPECT_EQ(threads.size(), 5u);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(served.threads[i], records[i]->thread_id);

    SetEvent(served.go.get());
    for (auto& r : records) ConnectionWorkers::wait_released(*r);
    ASSERT_TRUE(eventually([&] { return workers.idle_count() == 2 && workers.thread_count() == 2; }));
    auto next = record(5);
    serve_through(workers, *next);
    EXPECT_TRUE(threads.count(next->thread_id));  // an idle one took it
    EXPECT_EQ(workers.thread_count(), 2u);
}

TEST_F(ConnectionWorkersTest, AnIdleThreadEndsAfterItsIdleTimeAndTheNextConnectionGetsANewOne) {
    ConnectionWorkers workers(&serve_for_test, WorkerLimits{16, 200, 200});
    auto first = record(0), second = record(1);
    serve_through(workers, *first);
    ASSERT_TRUE(served.thread_handles[0]);
    EXPECT_EQ(WaitForSingleObject(served.thread_handles[0].get(), 5000), WAIT_OBJECT_0);
    EXPECT_EQ(workers.idle_count(), 0u);
    EXPECT_EQ(workers.thread_count(), 0u);

    serve_through(workers, *second);
    EXPECT_EQ(served.count, 2);
    EXPECT_EQ(workers.thread_count(), 1u);
}

TEST_F(ConnectionWorkersTest, AnAbortLeftFromAnEarlierConnectionIsDroppedButOnePostedForTheNextStays) {
    ConnectionWorkers workers(&serve_for_test);
    auto first = record(0), second = record(1), third = record(2);
    serve_through(workers, *first);
    ASSERT_TRUE(eventually([&] { return workers.idle_count() == 1; }));

    // Too late for the first connection: the idle thread gets it.
    ASSERT_TRUE(PostThreadMessageA(first->thread_id, CTM_ABORT, 0, 0));
    serve_through(workers, *second);
    EXPECT_FALSE(served.saw_abort[1]);

    // The close sequence may abort a connection before its thread has run.
    ASSERT_TRUE(eventually([&] { return workers.idle_count() == 1; }));
    ASSERT_TRUE(PostThreadMessageA(first->thread_id, CTM_ABORT, 0, 0));
    third->abort_posted = true;
    serve_through(workers, *third);
    EXPECT_EQ(third->thread_id, first->thread_id);
    EXPECT_TRUE(served.saw_abort[2]);
}

TEST_F(ConnectionWorkersTest, IdleThreadsEndWithThePool) {
    auto first = record(0);
    {
        ConnectionWorkers workers(&serve_for_test);
        serve_through(workers, *first);
        ASSERT_TRUE(eventually([&] { return workers.idle_count() == 1; }));
        EXPECT_EQ(WaitForSingleObject(served.thread_handles[0].get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    }
    EXPECT_EQ(WaitForSingleObject(served.thread_handles[0].get(), 0), WAIT_OBJECT_0);
}

}  // namespace
}  // namespace vellum
