// Plain text on the clipboard, as the windows' コピー commands put a URL
// there. UI thread.
#pragma once

#include <windows.h>

#include <string>

namespace vellum {

// Replaces the clipboard's contents with `text` as CF_TEXT; false when the
// clipboard can't be opened or emptied or the text can't be placed.
bool put_text_on_clipboard(HWND owner, const std::string& text);

}  // namespace vellum
