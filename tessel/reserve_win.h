// ReserveAutoGet's work: the reservation itself (reservation/, the code
// vellumhost.exe sends with too), and every failure of it told to the user in
// a warning box (through base/prompt.h) and nothing else.
//
// The caller's thread; the socket library must already be started by the
// host process (the browser has done it). Keeps nothing between calls.
#pragma once

namespace vellum {

// Caption of the component's message boxes.
inline constexpr char kComponentCaption[] = "Vellum コントロール";

// `url` and `user_agent` are required; an absent or empty `referer` sends no
// Referer line. The texts are converted to the ANSI code page.
void reserve_auto_get(const wchar_t* url, const wchar_t* referer, const wchar_t* user_agent);

}  // namespace vellum
