// The controls both top-level windows frame their tree with: a status bar
// carrying a progress bar in its first part, and a tree view between the
// toolbar and the status bar that shows state images and ignores typing.
// UI thread; the controls belong to their parent window.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <span>

namespace vellum {

// A window's height on the screen, 0 for none.
int height_of(HWND window);

// A status bar (id 111, size grip) with `part_edges` as its parts and a smooth
// 0-100 progress bar (id 112) filling part 0; `progress_bar` receives it.
HWND create_status_bar_with_progress(HWND parent, HINSTANCE instance, std::span<const int> part_edges,
                                     HWND& progress_bar);

// A tree view with id `id` from the bottom of `toolbar` to the top of
// `status_bar`, full width, with buttons, lines, the selection always shown,
// both scroll bars and the dialogs' font; typing never searches it. It shows
// `state_images` as its state images.
HWND create_state_tree(HWND parent, HINSTANCE instance, int id, HWND toolbar, HWND status_bar,
                       HIMAGELIST state_images);

}  // namespace vellum
