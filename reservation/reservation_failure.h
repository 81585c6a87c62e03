// Why a reservation did not reach the running proxy. tessel.dll shows the
// text in its warning box, vellumhost.exe hands it to the browser extension:
// the user reads the same words whichever browser asked.
//
// Pure; any thread.
#pragma once

namespace vellum {

enum class ReservationFailure {
    kNotInstalled,   // the program's settings key is missing
    kNotRunning,     // ServerAddress or ServerPort is missing
    kNoUrl,
    kNoUserAgent,
    kNoMemory,
    kNoSocket,
    kCannotConnect,
    kCannotSend,
};

// The message in the ANSI code page; a static text.
const char* reservation_failure_text(ReservationFailure failure);

}  // namespace vellum
