// The rules that keep every window and dialog inside the desktop's work area.
// Pure functions of the work area, so they hold wherever they run; the Win32
// side (shell/placement_win.h) reads the work area and moves the window.
#pragma once

namespace vellum {

struct ScreenRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool operator==(const ScreenRect&) const = default;
};

struct ScreenPoint {
    int x = 0;
    int y = 0;
    bool operator==(const ScreenPoint&) const = default;
};

// Where a window asked for at (x, y) with this size goes: pushed right of the
// left edge, then left of the right edge; above the bottom edge, then below
// the top edge (the top-left corner wins when the window is too big).
ScreenPoint placed_position(const ScreenRect& work, int x, int y, int width, int height);

// A window of this size centred in the work area; wider than the area it is
// aligned to the right edge, taller it starts at the top edge.
ScreenPoint centered_position(const ScreenRect& work, int width, int height);

// A window of this size centred on the cursor, clamped to the left and then
// the right edge, to the bottom and then the top edge.
ScreenPoint cursor_position(const ScreenRect& work, ScreenPoint cursor, int width, int height);

}  // namespace vellum
