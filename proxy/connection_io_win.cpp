#include "proxy/connection_io_win.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

#include "base/format_win.h"
#include "base/messages.h"
#include "base/screen_pace.h"
#include "proxy/ui_requests.h"

namespace vellum {
namespace {

// Bytes per receive and send of a body. The stream is the same whatever the
// size; larger chunks only mean fewer calls per kilobyte.
constexpr int kChunkSize = 65536;
// A body of unknown length moves its bar on by ten percent for every
// kilobyte it relays, however many kilobytes one receive brings.
constexpr int kCycleStep = 1024;

// What the main window's bar shows, published by the UI thread. The lock is
// only ever held for a copy, never across a message.
struct ShownProgress {
    HWND window = nullptr;
    int percent = -1;
};
std::mutex g_shown_mutex;
ShownProgress g_shown;
SharedBarPace g_bar_pace;  // under g_shown_mutex

bool bar_already_shows(HWND window, int percent) {
    std::lock_guard<std::mutex> hold(g_shown_mutex);
    return g_shown.window == window && g_shown.percent == percent;
}

// A browser relay's percent for the main window's bar, on the bar's shared pace.
bool bar_report_due(HWND window, int percent, std::uint64_t relay_started, std::uint64_t now) {
    std::lock_guard<std::mutex> hold(g_shown_mutex);
    if (g_shown.window == window && g_shown.percent == percent) return false;
    return g_bar_pace.due(relay_started, now);
}

void report_debug_progress(ConnectionLog& log, int percent) {
    // Only this connection ever sets its debug window's bar.
    if (log.debug_window && log.debug_progress != percent) {
        send_log_progress(log.debug_window, percent);
        log.debug_progress = percent;
    }
}

// A relay's report: a crawler's always goes to the main window (it drives
// the auto-get window too); a browser's on the bar's shared pace.
void report_relay_progress(ConnectionLog& log, int percent, bool autoget, std::uint64_t started, std::uint64_t now) {
    if (log.main_window && (autoget || bar_report_due(log.main_window, percent, started, now))) {
        send_progress(log.main_window, MWM_PROGRESS, percent, autoget);
    }
    report_debug_progress(log, percent);
}

}  // namespace

void log_text(ConnectionLog& log, bool flag, std::string_view text) {
    if (!flag) return;
    log.lines.append(std::string(text));
    if (log.debug_window) {
        send_log_text(log.debug_window, log.lines.join());
    }
}

void log_lines(ConnectionLog& log, bool flag, const LineList& lines) {
    if (!flag) return;
    log.lines.append(lines);
    if (log.debug_window) {
        send_log_text(log.debug_window, log.lines.join());
    }
}

int SocketSource::receive(char* buffer, int size) {
    seen_ = {};
    return recv(socket_, buffer, size, 0);
}

int SocketSource::peek(char* buffer, int size) {
    if (!seen_.empty() && size > 0) {
        const int count = static_cast<int>(std::min<std::size_t>(seen_.size(), static_cast<std::size_t>(size)));
        std::memcpy(buffer, seen_.data(), static_cast<std::size_t>(count));
        seen_ = {};
        return count;
    }
    return recv(socket_, buffer, size, MSG_PEEK);
}

int SocketSource::wait_readable(int seconds) {
    return vellum::wait_readable(socket_, seconds);
}

int wait_readable(SOCKET socket, int seconds) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket, &readable);
    timeval timeout{seconds, 0};
    int result = select(0, &readable, nullptr, nullptr, seconds < 0 ? nullptr : &timeout);
    if (result == SOCKET_ERROR) return -1;
    return FD_ISSET(socket, &readable) ? 1 : 0;
}

bool limit_receive_silence(SOCKET socket, int seconds) {
    const DWORD milliseconds = static_cast<DWORD>(seconds) * 1000;
    return setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&milliseconds),
                      sizeof milliseconds) == 0;
}

int peek_prefix(SOCKET socket, const char* expected, int length, char* peeked, int window) {
    int count = 0;
    for (int attempt = 0; attempt < 50; ++attempt) {
        count = recv(socket, peeked, window, MSG_PEEK);
        if (count <= 0 || count >= length || std::memcmp(peeked, expected, static_cast<std::size_t>(count)) != 0) {
            break;
        }
        Sleep(10);
    }
    return count;
}

bool starts_with_prefix(int count, const char* peeked, const char* expected, int length) {
    return count >= length && std::memcmp(peeked, expected, static_cast<std::size_t>(length)) == 0;
}

bool send_text(SOCKET socket, std::string_view text) {
    int sent = send(socket, text.data(), static_cast<int>(text.size()), 0);
    return sent == static_cast<int>(text.size());
}

bool send_lines(SOCKET socket, const LineList& lines) {
    // One send for the whole block: the same bytes, a tenth of the calls.
    std::size_t size = 0;
    for (const std::string& line : lines) size += line.size();
    std::string block;
    block.reserve(size);
    for (const std::string& line : lines) block += line;
    return block.empty() || send_text(socket, block);
}

ConnectionStatus send_header_to_client(SOCKET client, const LineList& header, ConnectionLog& log) {
    if (client == INVALID_SOCKET) return ConnectionStatus::ok;
    log_detail(log, "レスポンスヘッダー(to Client)の内容 次の行から--->\r\n");
    log_lines(log, log.detail, header);
    log_detail(log, "<---ここまで\r\n");
    log_detail(log, "レスポンスヘッダー(to Client)送信開始\r\n");
    if (!send_lines(client, header)) {
        log_error(log, "*** クライアントに送信出来ません！ ***\r\n");
        return ConnectionStatus::socket_failed;
    }
    log_detail(log, "完了\r\n");
    return ConnectionStatus::ok;
}

void progress_bar_changing() {
    std::lock_guard<std::mutex> hold(g_shown_mutex);
    g_shown = ShownProgress{};
}

void progress_bar_shows(HWND main_window, int percent) {
    std::lock_guard<std::mutex> hold(g_shown_mutex);
    g_shown = ShownProgress{main_window, percent};
}

void report_progress(ConnectionLog& log, int percent, bool autoget) {
    if (log.main_window && (autoget || !bar_already_shows(log.main_window, percent))) {
        send_progress(log.main_window, MWM_PROGRESS, percent, autoget);
    }
    report_debug_progress(log, percent);
}

namespace {

// How long a send to a browser that has no room waits before it looks
// whether the program has aborted the connection.
constexpr long kRoomWaitMicroseconds = 200 * 1000;

// The browser's socket sends without blocking while a body is relayed, and
// blocks again afterwards for the sends that follow.
class NonBlockingSends {
public:
    explicit NonBlockingSends(SOCKET socket) : socket_(socket) {
        u_long on = 1;
        if (socket_ != INVALID_SOCKET && ioctlsocket(socket_, FIONBIO, &on) == 0) set_ = true;
    }
    ~NonBlockingSends() {
        u_long off = 0;
        if (set_) ioctlsocket(socket_, FIONBIO, &off);
    }
    NonBlockingSends(const NonBlockingSends&) = delete;
    NonBlockingSends& operator=(const NonBlockingSends&) = delete;

private:
    SOCKET socket_;
    bool set_ = false;
};

bool abort_posted() {
    MSG msg;
    return PeekMessageA(&msg, nullptr, CTM_ABORT, CTM_ABORT, PM_NOREMOVE) != 0;
}

// Sends all of `data` to the browser. A browser that stops reading must not
// hold its connection for ever: a blocking send would wait for it even after
// the program closed the socket under it (seen under Wine when the program
// closes during a download), so the send waits for room in short slices and
// gives up once the program aborts the connection.
bool send_to_client(SOCKET socket, const char* data, int size) {
    while (size > 0) {
        const int sent = send(socket, data, size, 0);
        if (sent == SOCKET_ERROR) {
            if (WSAGetLastError() != WSAEWOULDBLOCK || abort_posted()) return false;
            fd_set writable;
            FD_ZERO(&writable);
            FD_SET(socket, &writable);
            timeval slice{0, kRoomWaitMicroseconds};
            if (select(0, nullptr, &writable, nullptr, &slice) == SOCKET_ERROR) return false;
            continue;
        }
        data += sent;
        size -= sent;
    }
    return true;
}

}  // namespace

ConnectionStatus relay_body(const RelayEnds& ends, long long limit, ConnectionLog& log, bool autoget, long long* relayed) {
    const bool from_socket = ends.source_stream != nullptr;
    const bool from_file = ends.source_file != INVALID_HANDLE_VALUE;
    const bool to_file = ends.destination_file != INVALID_HANDLE_VALUE;
    const bool to_client = ends.client_socket != INVALID_SOCKET;
    if (from_socket == from_file) return ConnectionStatus::ok;  // both sources, or none
    if (from_file && to_file) return ConnectionStatus::ok;      // file to file is not a relay

    std::string route = "通信開始（";
    route += from_socket ? "サーバー" : "ローカル";
    if (to_file) route += " → ローカル";
    if (to_client) route += " → クライアント";
    route += "）\r\n";
    log_detail(log, route);

    ConnectionStatus result = ConnectionStatus::ok;
    bool write_failed = false;
    long long remaining = limit;
    long long total = 0;
    int cycle_percent = 0;
    ProgressPace pace;
    const std::uint64_t started = GetTickCount64();
    std::vector<char> buffer(kChunkSize);
    char* chunk = buffer.data();
    NonBlockingSends sends(to_client ? ends.client_socket : INVALID_SOCKET);
    for (;;) {
        int wanted = kChunkSize;
        if (limit >= 0) {
            if (remaining <= 0) break;
            wanted = static_cast<int>(std::min<long long>(remaining, kChunkSize));
        }
        int count = 0;
        if (from_socket) {
            count = ends.source_stream->receive(chunk, wanted);
            if (count < 0) {
                log_error(log, "*** サーバーから本体を受信する際にソケットエラー発生！ ***\r\n");
                return ConnectionStatus::socket_failed;
            }
        } else {
            DWORD read = 0;
            if (!ReadFile(ends.source_file, chunk, static_cast<DWORD>(wanted), &read, nullptr)) {
                log_error(log, "*** ローカルファイルリードエラー！ ***\r\n");
                return ConnectionStatus::read_failed;
            }
            count = static_cast<int>(read);
        }
        if (count == 0) break;
        remaining -= count;

        if (to_file && !write_failed) {
            DWORD written = 0;
            if (!WriteFile(ends.destination_file, chunk, static_cast<DWORD>(count), &written, nullptr) ||
                written != static_cast<DWORD>(count)) {
                // The browser still gets the whole body; only the recording is lost.
                write_failed = true;
                result = ConnectionStatus::write_failed;
                log_error(log, "*** ローカルファイルライトエラー！ ***\r\n");
            }
        }
        if (to_client && !send_to_client(ends.client_socket, chunk, count)) {
            log_error(log, "*** クライアントに本体を送信する際にソケットエラー発生！ ***\r\n");
            return ConnectionStatus::socket_failed;
        }

        total += count;
        int percent;
        if (limit > 0) {
            percent = static_cast<int>(std::min<long long>(total * 100 / limit, 100));
        } else {
            for (int step = 0; step < count; step += kCycleStep) {
                cycle_percent = cycle_percent >= 100 ? 10 : cycle_percent + 10;
            }
            percent = cycle_percent;
        }
        const std::uint64_t now = GetTickCount64();
        if (pace.report(percent, now)) report_relay_progress(log, percent, autoget, started, now);
    }
    if (std::optional<int> last = pace.finish()) report_relay_progress(log, *last, autoget, started, GetTickCount64());
    log_detail(log, "完了\r\n");
    log_detail(log, format_text("通信量(byte)：%ld\r\n", static_cast<long>(total)));
    if (relayed) *relayed = total;
    return result;
}

bool write_lines(HANDLE file, const LineList& lines) {
    for (const std::string& line : lines) {
        DWORD written = 0;
        if (!WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
            written != line.size()) {
            return false;
        }
    }
    return true;
}

void ensure_thread_queue() {
    MSG msg;
    PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
}

std::optional<WPARAM> ask_ui(HWND main_window, UINT message, WPARAM wparam, LPARAM lparam, bool& abort_flag) {
    if (abort_pending()) abort_flag = true;
    if (!PostMessageA(main_window, message, wparam, lparam)) return std::nullopt;
    return wait_for_reply(message, abort_flag);
}

std::optional<WPARAM> wait_for_reply(UINT message, bool& abort_flag) {
    MSG msg;
    for (;;) {
        BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0 || got == -1) return std::nullopt;
        if (msg.message == message) return msg.wParam;
        if (msg.message == CTM_ABORT) abort_flag = true;
    }
}

bool abort_pending() {
    bool aborted = false;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == CTM_ABORT) aborted = true;
    }
    return aborted;
}

}  // namespace vellum
