// The timer that shows a frozen view's changes at the screen's pace: a view
// changed many times a second is frozen at the first change and thawed on
// the next tick of a timer of its window's own. UI thread.
#pragma once

#include <windows.h>

namespace vellum {

class ThawTimer {
public:
    ThawTimer(UINT_PTR id, UINT milliseconds) : id_(id), milliseconds_(milliseconds) {}
    ThawTimer(const ThawTimer&) = delete;
    ThawTimer& operator=(const ThawTimer&) = delete;

    UINT_PTR id() const { return id_; }
    bool running() const { return running_; }

    // Starts the timer unless it runs; false when no timer could be set, and
    // the caller then shows each change as it comes.
    bool arm(HWND window) {
        if (!running_) running_ = SetTimer(window, id_, milliseconds_, nullptr) != 0;
        return running_;
    }
    void disarm(HWND window) {
        if (running_) KillTimer(window, id_);
        running_ = false;
    }

private:
    UINT_PTR id_;
    UINT milliseconds_;
    bool running_ = false;
};

}  // namespace vellum
