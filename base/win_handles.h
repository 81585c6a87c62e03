// The Win32 handle kinds the program owns, each with its own invalid value.
// UI thread and worker threads alike; an owner belongs to one thread at a time.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include "base/unique_handle.h"

namespace vellum {

struct FileHandleTraits {  // CreateFile: INVALID_HANDLE_VALUE
    using Type = HANDLE;
    static Type invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Type h) { CloseHandle(h); }
};
struct KernelHandleTraits {  // threads, events: NULL
    using Type = HANDLE;
    static Type invalid() { return nullptr; }
    static void close(Type h) { CloseHandle(h); }
};
struct SocketTraits {
    using Type = SOCKET;
    static Type invalid() { return INVALID_SOCKET; }
    static void close(Type s) { closesocket(s); }
};
struct FindHandleTraits {
    using Type = HANDLE;
    static Type invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Type h) { FindClose(h); }
};
struct RegKeyTraits {
    using Type = HKEY;
    static Type invalid() { return nullptr; }
    static void close(Type k) { RegCloseKey(k); }
};
struct MenuTraits {
    using Type = HMENU;
    static Type invalid() { return nullptr; }
    static void close(Type m) { DestroyMenu(m); }
};
struct IconTraits {
    using Type = HICON;
    static Type invalid() { return nullptr; }
    static void close(Type i) { DestroyIcon(i); }
};
struct ImageListTraits {
    using Type = HIMAGELIST;
    static Type invalid() { return nullptr; }
    static void close(Type l) { ImageList_Destroy(l); }
};
struct BitmapTraits {
    using Type = HBITMAP;
    static Type invalid() { return nullptr; }
    static void close(Type b) { DeleteObject(b); }
};
struct FontTraits {
    using Type = HFONT;
    static Type invalid() { return nullptr; }
    static void close(Type f) { DeleteObject(f); }
};
struct WindowTraits {
    using Type = HWND;
    static Type invalid() { return nullptr; }
    static void close(Type w) { DestroyWindow(w); }
};

// A COM interface pointer owns one reference.
template <typename Interface>
struct ComTraits {
    using Type = Interface*;
    static Type invalid() { return nullptr; }
    static void close(Type pointer) { pointer->Release(); }
};

using FileHandle = UniqueHandle<FileHandleTraits>;
using KernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueSocket = UniqueHandle<SocketTraits>;
using FindHandle = UniqueHandle<FindHandleTraits>;
using RegKey = UniqueHandle<RegKeyTraits>;
using UniqueMenu = UniqueHandle<MenuTraits>;
using UniqueIcon = UniqueHandle<IconTraits>;
using UniqueImageList = UniqueHandle<ImageListTraits>;
using UniqueBitmap = UniqueHandle<BitmapTraits>;
using UniqueFont = UniqueHandle<FontTraits>;
using UniqueWindow = UniqueHandle<WindowTraits>;
template <typename Interface>
using ComPtr = UniqueHandle<ComTraits<Interface>>;

}  // namespace vellum
