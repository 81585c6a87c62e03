// One reservation, start to end: find the running proxy in the registry, send
// it the reservation request over a fresh TCP connection, close it. tessel.dll
// and vellumhost.exe both call it, so the two send the same bytes in the same
// cases and fail for the same reasons.
//
// The caller's thread; the socket library must already be started (the
// browser has done it for tessel.dll, vellumhost.exe does it itself). Keeps
// nothing between calls.
#pragma once

#include <optional>

#include "reservation/reservation_failure.h"

namespace vellum {

// `url` and `user_agent` are required (null reports kNoUrl, kNoUserAgent,
// but only after the proxy was found); an absent or empty `referer` sends no
// Referer line. The texts are converted to the ANSI code page. None when the
// whole request was sent; no reply is read.
std::optional<ReservationFailure> send_reservation(const wchar_t* url, const wchar_t* referer,
                                                   const wchar_t* user_agent);

}  // namespace vellum
