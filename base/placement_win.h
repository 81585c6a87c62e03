// Moving windows inside the desktop's work area (rules in base/placement.h).
// If the work area can't be read they do nothing; none of them shows the
// window. UI thread.
#pragma once

#include <windows.h>

#include <cstdint>

namespace vellum {

void place_window(HWND window, int x, int y, int width, int height);
void center_window(HWND window);
// Every dialog calls it when it opens.
void place_at_cursor(HWND window);

// A top-level window's normal rectangle where the settings keep it, four
// values; all four 0 means that the window has none yet.
struct StoredRect {
    std::int32_t& left;
    std::int32_t& top;
    std::int32_t& right;
    std::int32_t& bottom;
};

// At creation: the stored rectangle, moved inside the work area
// (place_window), or the window centred when there is none.
void restore_placement(HWND window, const StoredRect& stored);
// At destruction: stores the window's normal (restored) rectangle, also
// while it is minimised or maximised.
void remember_placement(HWND window, const StoredRect& stored);

}  // namespace vellum
