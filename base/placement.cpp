#include "base/placement.h"

#include <algorithm>

namespace vellum {

ScreenPoint placed_position(const ScreenRect& work, int x, int y, int width, int height) {
    x = std::max(x, work.left);
    if (x + width > work.right) x = work.right - width;
    if (y + height > work.bottom) y = work.bottom - height;
    y = std::max(y, work.top);
    return {x, y};
}

ScreenPoint centered_position(const ScreenRect& work, int width, int height) {
    int x = work.left + (work.width() - width) / 2;
    int y = work.top + (work.height() - height) / 2;
    if (x + width > work.right) x = work.right - width;
    y = std::max(y, work.top);
    return {x, y};
}

ScreenPoint cursor_position(const ScreenRect& work, ScreenPoint cursor, int width, int height) {
    int x = cursor.x - width / 2;
    int y = cursor.y - height / 2;
    x = std::max(x, work.left);
    if (x + width > work.right) x = work.right - width;
    if (y + height > work.bottom) y = work.bottom - height;
    y = std::max(y, work.top);
    return {x, y};
}

}  // namespace vellum
