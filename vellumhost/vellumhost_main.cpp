// vellumhost.exe: the native messaging host the browser extension talks to.
// The browser starts it with the extension's origin as its argument (and on
// Windows a window handle), which it has no use for: the browser has
// already checked that the extension is one its manifest allows.
#include <winsock2.h>
#include <windows.h>

#include "vellumhost/host_platform_win.h"
#include "vellumhost/host_session.h"

int main() {
    // Unlike tessel.dll in the browser's process, the host has nobody to
    // start the socket library for it. Without it every reservation fails
    // as tessel.dll's would: the socket can't be created.
    WSADATA data;
    const bool sockets = WSAStartup(MAKEWORD(1, 1), &data) == 0;
    vellum::StandardInput input;
    vellum::WindowsHostPlatform platform;
    const int code = vellum::run_native_host(input, platform);
    if (sockets) WSACleanup();
    return code;
}
