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

}  // namespace vellum
