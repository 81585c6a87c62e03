// The store lock: one process-wide critical section held around every look-up
// of a recorded page and around every whole replacement of a recorded page or
// redirect file, by connection threads and the crawler thread alike. Nobody
// holds it while waiting for the UI thread.
//
// The main window creates it before any thread starts and deletes it after
// all threads have ended; StoreLockHold takes the installed lock for a scope.
#pragma once

#include <windows.h>

namespace vellum {

class StoreLock {
public:
    StoreLock() { InitializeCriticalSection(&section_); }
    ~StoreLock() { DeleteCriticalSection(&section_); }
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;

    void enter() { EnterCriticalSection(&section_); }
    void leave() { LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION section_;
};

// The process-wide lock; nullptr outside the main window's lifetime.
StoreLock* store_lock();
void install_store_lock(StoreLock* lock);

class StoreLockHold {
public:
    explicit StoreLockHold(StoreLock* lock = store_lock()) : lock_(lock) {
        if (lock_) lock_->enter();
    }
    ~StoreLockHold() {
        if (lock_) lock_->leave();
    }
    StoreLockHold(const StoreLockHold&) = delete;
    StoreLockHold& operator=(const StoreLockHold&) = delete;

private:
    StoreLock* lock_;
};

}  // namespace vellum
