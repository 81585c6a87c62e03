// The start-up sweep of a save folder: after a crash or a power cut, finishes
// or undoes every commit that was cut short and deletes the receiving files
// nobody writes any more (tidy_recorded_page, page by page, each under the
// store lock for a moment). It runs on a thread of its own at low priority,
// so the first request never waits for it; pages looked up or recorded
// meanwhile are tidied by their own look-up anyway.
//
// The owner (the listener, on the UI thread) starts it and stops it; stop()
// waits for the thread, which ends at the next name it looks at.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <string>

#include "base/win_handles.h"

namespace vellum {

class StoreSweep {
public:
    StoreSweep() = default;
    ~StoreSweep() { stop(); }
    StoreSweep(const StoreSweep&) = delete;
    StoreSweep& operator=(const StoreSweep&) = delete;

    // Starts sweeping `save_folder` and every folder below it (a sweep still
    // running is stopped first). False when the thread can't be made.
    bool start(const std::string& save_folder);
    void stop();
    // Waits up to `milliseconds` for the sweep to finish; true when it has.
    bool wait(DWORD milliseconds) const;
    // Pages whose temporary names the sweep has tidied.
    std::size_t pages_tidied() const { return pages_tidied_; }

private:
    static DWORD WINAPI run(void* self);
    void sweep();

    std::string save_folder_;
    KernelHandle thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<std::size_t> pages_tidied_{0};
};

}  // namespace vellum
