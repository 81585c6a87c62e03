// One window message put aside while its window must not change, to be sent
// to the window again once it may: a slot that holds at most one message (a
// later one replaces an earlier). The window that parks a message owns its
// slot. UI thread.
#pragma once

#include <windows.h>

namespace vellum {

struct ParkedMessage {
    UINT message = 0;  // 0: the slot is empty
    WPARAM wparam = 0;
    LPARAM lparam = 0;

    explicit operator bool() const { return message != 0; }

    // Empties the slot, then sends what it held to `window` (nothing when it
    // was empty); the handler may park the message again.
    void replay(HWND window) {
        const ParkedMessage held = *this;
        *this = ParkedMessage{};
        if (held) SendMessageA(window, held.message, held.wparam, held.lparam);
    }
};

// A window's deferral with one slot: while an interaction that may change
// what the window shows runs, the messages that would change it are parked
// (the sender keeps waiting for its answer) and handled when it ends.
class Deferral {
public:
    bool active() const { return active_; }
    void begin() { active_ = true; }
    // Ends the deferral and sends the parked message, if any, to `window`.
    void end(HWND window) {
        active_ = false;
        parked_.replay(window);
    }
    // While active, parks the message (replacing any parked before) and
    // returns true; otherwise forgets what was parked and returns false.
    bool park_if_active(UINT message, WPARAM wparam, LPARAM lparam) {
        if (!active_) {
            parked_ = ParkedMessage{};
            return false;
        }
        parked_ = ParkedMessage{message, wparam, lparam};
        return true;
    }
    void forget() { parked_ = ParkedMessage{}; }

private:
    bool active_ = false;
    ParkedMessage parked_;
};

}  // namespace vellum
