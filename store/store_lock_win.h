// The store lock: one process-wide critical section held around every look-up
// of a recorded page and around every whole replacement of a recorded page or
// redirect file, by connection threads and the crawler thread alike. Nobody
// holds it while waiting for the UI thread.
//
// The main window creates it before any thread starts and deletes it after
// all threads have ended; StoreLockHold takes the installed lock for a scope.
// The store's kept folder listings (store/folder_listing_win.h) are touched
// only by the thread holding it, which asks held_here().
#pragma once

#include <windows.h>

#include <atomic>

namespace vellum {

class StoreLock {
public:
    StoreLock() { InitializeCriticalSection(&section_); }
    ~StoreLock() { DeleteCriticalSection(&section_); }
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;

    void enter() {
        EnterCriticalSection(&section_);
        if (depth_++ == 0) owner_.store(GetCurrentThreadId());
    }
    void leave() {
        if (--depth_ == 0) owner_.store(0);
        LeaveCriticalSection(&section_);
    }
    // True on the thread that holds the lock now (a critical section may be
    // entered again by its holder: the depth counts that).
    bool held_here() const { return owner_.load() == GetCurrentThreadId(); }

private:
    CRITICAL_SECTION section_;
    int depth_ = 0;                // the holder's alone
    std::atomic<DWORD> owner_{0};  // written by the holder, read by anyone
};

// The process-wide lock; nullptr outside the main window's lifetime.
StoreLock* store_lock();
void install_store_lock(StoreLock* lock);
// The installed lock is there and this thread holds it.
bool store_lock_held_here();

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
