#include "base/clipboard_win.h"

#include <cstring>

namespace vellum {

bool put_text_on_clipboard(HWND owner, const std::string& text) {
    if (!OpenClipboard(owner)) return false;
    bool done = false;
    if (EmptyClipboard()) {
        if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1)) {
            if (void* bytes = GlobalLock(memory)) {
                std::memcpy(bytes, text.c_str(), text.size() + 1);
                GlobalUnlock(memory);
                done = SetClipboardData(CF_TEXT, memory) != nullptr;
            }
            if (!done) GlobalFree(memory);  // the clipboard owns it only once set
        }
    }
    CloseClipboard();
    return done;
}

}  // namespace vellum
