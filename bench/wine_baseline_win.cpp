// wine_baseline: the cheapest Win32 servers of Vellum's shape, run under the
// same Wine as vellum.exe, to tell the cost of Wine itself from the cost of
// Vellum's request path. Not part of the program; the benchmark starts it.
//
//   wine_baseline serve PORT
//       HTTP/1.0 origin: one thread per connection, the header read in one
//       go, "/2k", "/100k" or "/<bytes>" answered with that many bytes.
//   wine_baseline relay PORT [options]
//       HTTP/1.0 forwarding proxy: one thread per connection, absolute URL
//       rewritten to a path, answer relayed until the server closes.
//       Options add Vellum's costs one at a time, so that each can be
//       measured by difference:
//         --line-bytes   read every header line one byte per recv
//         --chunk N      relay in N-byte chunks (default 16384)
//         --ui K         the accept thread hands sockets to a UI thread that
//                        starts and joins the connection threads, and each
//                        request waits for K posted round trips to it
//         --progress     a synchronous SendMessage to the UI thread after
//                        every relayed chunk
//   and, for both: --backlog N   listen backlog (default SOMAXCONN)
//                  --pool        keep each connection thread for the next
//                                connection, as Vellum does (an idle thread
//                                waits up to 30 s, then ends), instead of a
//                                new thread per connection
//
// Everything listens on 127.0.0.1 only. Prints "listening" when ready.
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr UINT kAccepted = WM_APP + 1;
constexpr UINT kRoundTrip = WM_APP + 2;
constexpr UINT kDone = WM_APP + 3;
constexpr UINT kProgress = WM_APP + 4;

struct Options {
    bool relay = false;
    bool line_bytes = false;
    int chunk = 16384;
    int ui_round_trips = -1;  // -1: no UI thread at all
    bool progress = false;
    int backlog = SOMAXCONN;
    bool pool = false;
};

Options g_options;
HWND g_ui_window = nullptr;

bool send_all(SOCKET s, const char* data, int size) {
    while (size > 0) {
        int sent = send(s, data, size, 0);
        if (sent <= 0) return false;
        data += sent;
        size -= sent;
    }
    return true;
}

// The header block up to and including its empty line. Byte-wise when asked,
// as Vellum reads it; otherwise in one recv per arrival, keeping what came
// after the header in `rest`.
bool read_header(SOCKET s, std::string& header, std::string& rest) {
    header.clear();
    rest.clear();
    char buffer[4096];
    for (;;) {
        const int wanted = g_options.line_bytes ? 1 : static_cast<int>(sizeof buffer);
        int count = recv(s, buffer, wanted, 0);
        if (count <= 0) return false;
        header.append(buffer, static_cast<std::size_t>(count));
        std::size_t end = header.find("\r\n\r\n");
        if (end != std::string::npos) {
            rest = header.substr(end + 4);
            header.resize(end + 4);
            return true;
        }
        if (header.size() > 65536) return false;
    }
}

void ui_round_trips(int count) {
    MSG msg;
    for (int i = 0; i < count; ++i) {
        PostMessageA(g_ui_window, kRoundTrip, GetCurrentThreadId(), 0);
        while (GetMessageA(&msg, nullptr, 0, 0) > 0 && msg.message != kRoundTrip) {
        }
    }
}

void serve(SOCKET client) {
    std::string header, rest;
    if (!read_header(client, header, rest)) return;
    std::size_t path_start = header.find(' ');
    std::size_t path_end = header.find(' ', path_start + 1);
    std::string path = header.substr(path_start + 1, path_end - path_start - 1);
    std::size_t size = 0;
    if (path == "/2k") size = 2048;
    else if (path == "/100k") size = 102400;
    else size = std::strtoull(path.c_str() + 1, nullptr, 10);
    std::string answer = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n";
    if (!send_all(client, answer.data(), static_cast<int>(answer.size()))) return;
    std::vector<char> body(65536, 'x');
    while (size > 0) {
        int part = static_cast<int>(size < body.size() ? size : body.size());
        if (!send_all(client, body.data(), part)) return;
        size -= static_cast<std::size_t>(part);
    }
}

void relay(SOCKET client) {
    std::string header, rest;
    if (!read_header(client, header, rest)) return;
    // "GET http://host:port/path HTTP/1.0"
    std::size_t url_start = header.find(' ') + 1;
    if (header.compare(url_start, 7, "http://") != 0) return;
    std::size_t host_start = url_start + 7;
    std::size_t path_start = header.find('/', host_start);
    std::size_t url_end = header.find(' ', host_start);
    if (path_start == std::string::npos || path_start > url_end) path_start = url_end;
    std::string host_port = header.substr(host_start, path_start - host_start);
    std::string host = host_port;
    int port = 80;
    if (std::size_t colon = host_port.find(':'); colon != std::string::npos) {
        host = host_port.substr(0, colon);
        port = std::atoi(host_port.c_str() + colon + 1);
    }
    std::string request = header.substr(0, url_start) + (path_start < url_end ? "" : "/") + header.substr(path_start);

    SOCKET server = socket(AF_INET, SOCK_STREAM, 0);
    if (server == INVALID_SOCKET) return;
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<u_short>(port));
    at.sin_addr.s_addr = inet_addr(host.c_str());
    if (connect(server, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
        !send_all(server, request.data(), static_cast<int>(request.size())) ||
        (!rest.empty() && !send_all(server, rest.data(), static_cast<int>(rest.size())))) {
        closesocket(server);
        return;
    }
    std::string response_header, body_start;
    if (read_header(server, response_header, body_start) &&
        send_all(client, response_header.data(), static_cast<int>(response_header.size())) &&
        (body_start.empty() || send_all(client, body_start.data(), static_cast<int>(body_start.size())))) {
        std::vector<char> chunk(static_cast<std::size_t>(g_options.chunk));
        for (;;) {
            int count = recv(server, chunk.data(), g_options.chunk, 0);
            if (count <= 0) break;
            if (!send_all(client, chunk.data(), count)) break;
            if (g_options.progress) SendMessageA(g_ui_window, kProgress, 0, 0);
        }
    }
    closesocket(server);
}

DWORD WINAPI connection(void* param) {
    SOCKET client = static_cast<SOCKET>(reinterpret_cast<UINT_PTR>(param));
    if (g_options.ui_round_trips > 0) ui_round_trips(g_options.ui_round_trips);
    if (g_options.relay) relay(client); else serve(client);
    closesocket(client);
    if (g_ui_window) PostMessageA(g_ui_window, kDone, 0, 0);
    return 0;
}

HANDLE start_connection(SOCKET client) {
    HANDLE thread = CreateThread(nullptr, 0, &connection, reinterpret_cast<void*>(static_cast<UINT_PTR>(client)), 0,
                                 nullptr);
    if (!thread) closesocket(client);
    return thread;
}

// The kept threads: a queue of accepted sockets, taken by whichever thread
// is idle; a new thread only when none is.
constexpr DWORD kIdleThreadMs = 30000;
CRITICAL_SECTION g_pool_lock;
CONDITION_VARIABLE g_pool_ready;
std::vector<SOCKET> g_pool_queue;
int g_pool_idle = 0;

DWORD WINAPI pooled_thread(void* param) {
    SOCKET client = static_cast<SOCKET>(reinterpret_cast<UINT_PTR>(param));
    for (;;) {
        connection(reinterpret_cast<void*>(static_cast<UINT_PTR>(client)));
        EnterCriticalSection(&g_pool_lock);
        ++g_pool_idle;
        while (g_pool_queue.empty()) {
            if (!SleepConditionVariableCS(&g_pool_ready, &g_pool_lock, kIdleThreadMs) && g_pool_queue.empty()) {
                --g_pool_idle;
                LeaveCriticalSection(&g_pool_lock);
                return 0;
            }
        }
        --g_pool_idle;
        client = g_pool_queue.back();
        g_pool_queue.pop_back();
        LeaveCriticalSection(&g_pool_lock);
    }
}

void hand_to_pool(SOCKET client) {
    EnterCriticalSection(&g_pool_lock);
    if (g_pool_idle > static_cast<int>(g_pool_queue.size())) {
        g_pool_queue.push_back(client);
        LeaveCriticalSection(&g_pool_lock);
        WakeConditionVariable(&g_pool_ready);
        return;
    }
    LeaveCriticalSection(&g_pool_lock);
    HANDLE thread =
        CreateThread(nullptr, 0, &pooled_thread, reinterpret_cast<void*>(static_cast<UINT_PTR>(client)), 0, nullptr);
    if (thread) CloseHandle(thread); else closesocket(client);
}

SOCKET g_listening = INVALID_SOCKET;

DWORD WINAPI accept_loop(void*) {
    for (;;) {
        SOCKET client = accept(g_listening, nullptr, nullptr);
        if (client == INVALID_SOCKET) continue;
        if (g_options.pool) {
            hand_to_pool(client);
        } else if (g_ui_window) {
            PostMessageA(g_ui_window, kAccepted, static_cast<WPARAM>(client), 0);
        } else if (HANDLE thread = start_connection(client)) {
            CloseHandle(thread);
        }
    }
}

// The UI thread's side: threads started and joined here, as Vellum does.
std::vector<HANDLE> g_threads;

LRESULT CALLBACK ui_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case kAccepted:
        if (HANDLE thread = start_connection(static_cast<SOCKET>(wparam))) g_threads.push_back(thread);
        return 0;
    case kRoundTrip:
        PostThreadMessageA(static_cast<DWORD>(wparam), kRoundTrip, 0, 0);
        return 0;
    case kDone:
        // Join whichever threads have ended.
        for (std::size_t i = 0; i < g_threads.size();) {
            if (WaitForSingleObject(g_threads[i], 0) == WAIT_OBJECT_0) {
                CloseHandle(g_threads[i]);
                g_threads[i] = g_threads.back();
                g_threads.pop_back();
            } else {
                ++i;
            }
        }
        return 0;
    case kProgress:
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: wine_baseline serve|relay PORT [--line-bytes] [--chunk N] [--ui K] [--progress] "
                             "[--backlog N] [--pool]\n");
        return 2;
    }
    g_options.relay = std::strcmp(argv[1], "relay") == 0;
    const int port = std::atoi(argv[2]);
    for (int i = 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "--line-bytes") == 0) g_options.line_bytes = true;
        else if (std::strcmp(argv[i], "--chunk") == 0 && i + 1 < argc) g_options.chunk = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--ui") == 0 && i + 1 < argc) g_options.ui_round_trips = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--progress") == 0) g_options.progress = true;
        else if (std::strcmp(argv[i], "--backlog") == 0 && i + 1 < argc) g_options.backlog = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--pool") == 0) g_options.pool = true;
    }
    if (g_options.pool && (g_options.ui_round_trips >= 0 || g_options.progress)) {
        std::fprintf(stderr, "--pool keeps no UI thread: it goes without --ui and --progress\n");
        return 2;
    }
    InitializeCriticalSection(&g_pool_lock);
    InitializeConditionVariable(&g_pool_ready);
    if (g_options.progress && g_options.ui_round_trips < 0) g_options.ui_round_trips = 0;

    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 1;
    g_listening = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<u_short>(port));
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(g_listening, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || listen(g_listening, g_options.backlog) != 0) {
        std::fprintf(stderr, "cannot listen on %d\n", port);
        return 1;
    }
    if (g_options.ui_round_trips >= 0) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = &ui_procedure;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "WineBaselineUi";
        RegisterClassA(&wc);
        g_ui_window = CreateWindowA("WineBaselineUi", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    }
    std::printf("listening\n");
    std::fflush(stdout);
    if (!g_ui_window) {
        accept_loop(nullptr);
        return 0;
    }
    CloseHandle(CreateThread(nullptr, 0, &accept_loop, nullptr, 0, nullptr));
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    return 0;
}
