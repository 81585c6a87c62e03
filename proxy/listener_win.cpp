#include "proxy/listener_win.h"

#include <cstring>

#include "proxy/ui_requests.h"

namespace vellum {
namespace {

WSADATA g_winsock_data{};
bool g_winsock_started = false;

}  // namespace

bool start_winsock() {
    g_winsock_started = WSAStartup(MAKEWORD(1, 1), &g_winsock_data) == 0;
    return g_winsock_started;
}

void stop_winsock() {
    if (g_winsock_started) WSACleanup();
    g_winsock_started = false;
}

const WSADATA& winsock_data() {
    return g_winsock_data;
}

std::optional<std::uint32_t> resolve_ipv4_host(const std::string& host) {
    const unsigned long dotted = inet_addr(host.c_str());
    if (dotted != INADDR_NONE && !host.empty()) return ntohl(dotted);
    const hostent* entry = gethostbyname(host.c_str());
    if (!entry || entry->h_addrtype != AF_INET || entry->h_length != 4 || !entry->h_addr_list[0]) {
        return std::nullopt;
    }
    u_long address;
    std::memcpy(&address, entry->h_addr_list[0], sizeof address);
    return ntohl(address);
}

const char* listen_error_text(ListenError error) {
    switch (error) {
    case ListenError::socket: return "ｓｏｃｋｅｔ失敗！";
    case ListenError::bind: return "ｂｉｎｄ失敗！";
    case ListenError::listen: return "ｌｉｓｔｅｎ失敗！";
    case ListenError::thread: return "acceptスレッドが作成出来ません！";
    case ListenError::none: break;
    }
    return "";
}

ListenError Listener::start(HWND main_window, std::uint32_t address, std::uint16_t port,
                            const std::string& save_folder) {
    main_window_ = main_window;
    closing_ = false;
    UniqueSocket listening(socket(AF_INET, SOCK_STREAM, 0));
    if (!listening) return ListenError::socket;
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(address);
    at.sin_port = htons(port);
    if (bind(listening.get(), reinterpret_cast<sockaddr*>(&at), sizeof at) == SOCKET_ERROR) return ListenError::bind;
    // SOMAXCONN asks for the largest queue the system allows (4096 on Linux
    // under Wine); a queue of 5 made connects wait a second at 64 clients.
    if (listen(listening.get(), SOMAXCONN) == SOCKET_ERROR) return ListenError::listen;
    socket_ = std::move(listening);
    thread_.reset(CreateThread(nullptr, 0, &Listener::accept_loop, this, 0, nullptr));
    if (!thread_) {
        socket_.reset();
        return ListenError::thread;
    }
    // Without its sweep the program still works: look-ups tidy as they go.
    if (!save_folder.empty()) sweep_.start(save_folder);
    return ListenError::none;
}

void Listener::close() {
    sweep_.stop();
    if (!socket_) return;
    closing_ = true;
    socket_.reset();  // makes the pending accept fail
    if (thread_) WaitForSingleObject(thread_.get(), INFINITE);
    thread_.reset();
}

DWORD WINAPI Listener::accept_loop(void* param) {
    auto* self = static_cast<Listener*>(param);
    const SOCKET listening = self->socket_.get();
    for (;;) {
        SOCKET accepted = accept(listening, nullptr, nullptr);
        if (accepted == INVALID_SOCKET) {
            // Only the closed listening socket ends the thread; a client that
            // reset before it was accepted, or a short lack of resources,
            // must not leave the proxy deaf while the program runs on.
            int error = WSAGetLastError();
            if (self->closing_ || error == WSAENOTSOCK || error == WSAEINVAL || error == WSANOTINITIALISED) break;
            Sleep(50);
            continue;
        }
        if (!post_accepted_socket(self->main_window_, accepted)) {
            closesocket(accepted);
        }
    }
    return 0;
}

}  // namespace vellum
