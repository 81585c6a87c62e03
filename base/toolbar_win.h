// The toolbar shared by the main window and the auto-get window: one button
// table of eight entries (separator, インターネット接続, ページ保存, separator,
// 自動取得ウィンドウを開く, separator, スタート, ストップ) over the five images of
// bitmap 149. Each window deletes the entries it does not show. UI thread.
#pragma once

#include <windows.h>

#include "base/win_handles.h"

namespace vellum {

// Creates the toolbar (id 110, visible child with tooltips) with all eight
// entries. `bitmap` receives the button images, light grey mapped to the
// button face, which the toolbar uses but does not own: keep it as long as
// the toolbar lives. nullptr on failure.
HWND create_program_toolbar(HWND parent, HINSTANCE instance, UniqueBitmap& bitmap);

// Tooltip text of a toolbar command, or nullptr.
const char* toolbar_tooltip(UINT_PTR command);

// Answers a toolbar's tooltip request (TTN_GETDISPINFO in either character
// set); false when the notification is not one.
bool answer_toolbar_tooltip(NMHDR* header);

}  // namespace vellum
