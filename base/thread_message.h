// Ownership that crosses a thread message.
//
// A record posted to another thread belongs to the receiver from the moment
// the post succeeds. The sender releases its unique_ptr into the message
// parameter; if the post fails, the helper takes the record back and frees it,
// so nothing leaks and nothing is freed twice. The receiver adopts the
// parameter on its first line, before anything can return early.
#pragma once

#include <windows.h>

#include <memory>

namespace vellum {

template <typename T>
std::unique_ptr<T> adopt_param(LPARAM param) {
    return std::unique_ptr<T>(reinterpret_cast<T*>(param));
}
template <typename T>
std::unique_ptr<T> adopt_wparam(WPARAM param) {
    return std::unique_ptr<T>(reinterpret_cast<T*>(param));
}

// PostMessage with `owned` as lParam. On failure the record is freed here.
template <typename T>
bool post_owned(HWND window, UINT message, WPARAM wparam, std::unique_ptr<T> owned) {
    T* raw = owned.get();
    if (!PostMessageA(window, message, wparam, reinterpret_cast<LPARAM>(raw))) return false;
    owned.release();  // the receiver adopts it
    return true;
}

// PostThreadMessage with `owned` as wParam. On failure the record is freed here.
template <typename T>
bool post_thread_owned(DWORD thread_id, UINT message, std::unique_ptr<T> owned, LPARAM lparam = 0) {
    T* raw = owned.get();
    if (!PostThreadMessageA(thread_id, message, reinterpret_cast<WPARAM>(raw), lparam)) return false;
    owned.release();  // the receiver adopts it
    return true;
}

}  // namespace vellum
