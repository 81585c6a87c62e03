#include "base/placement_win.h"

#include <optional>

#include "base/placement.h"

namespace vellum {
namespace {

std::optional<ScreenRect> work_area() {
    RECT area;
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0)) return std::nullopt;
    return ScreenRect{area.left, area.top, area.right, area.bottom};
}

std::optional<RECT> window_rect(HWND window) {
    RECT rect;
    if (!GetWindowRect(window, &rect)) return std::nullopt;
    return rect;
}

void move_to(HWND window, ScreenPoint at) {
    SetWindowPos(window, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

void place_window(HWND window, int x, int y, int width, int height) {
    std::optional<ScreenRect> work = work_area();
    if (!work) return;
    ScreenPoint at = placed_position(*work, x, y, width, height);
    MoveWindow(window, at.x, at.y, width, height, TRUE);
}

void center_window(HWND window) {
    std::optional<ScreenRect> work = work_area();
    std::optional<RECT> rect = window_rect(window);
    if (!work || !rect) return;
    move_to(window, centered_position(*work, rect->right - rect->left, rect->bottom - rect->top));
}

void place_at_cursor(HWND window) {
    std::optional<ScreenRect> work = work_area();
    std::optional<RECT> rect = window_rect(window);
    POINT cursor;
    if (!work || !rect || !GetCursorPos(&cursor)) return;
    move_to(window, cursor_position(*work, {cursor.x, cursor.y}, rect->right - rect->left, rect->bottom - rect->top));
}

void restore_placement(HWND window, const StoredRect& stored) {
    if (stored.left || stored.top || stored.right || stored.bottom) {
        place_window(window, stored.left, stored.top, stored.right - stored.left, stored.bottom - stored.top);
    } else {
        center_window(window);
    }
}

void remember_placement(HWND window, const StoredRect& stored) {
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    if (!GetWindowPlacement(window, &placement)) return;
    stored.left = placement.rcNormalPosition.left;
    stored.top = placement.rcNormalPosition.top;
    stored.right = placement.rcNormalPosition.right;
    stored.bottom = placement.rcNormalPosition.bottom;
}

}  // namespace vellum
