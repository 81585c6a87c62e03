// A CONNECT: the browser's tunnel to a server, opened directly or through
// the upstream proxy's own CONNECT, then bytes relayed both ways, unread and
// unrecorded, until both sides have closed, a socket fails, or nothing has
// moved for the idle limit. Offline, for a port the settings do not allow
// and for a target that is not "host:port" the browser gets an error page.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/format_win.h"
#include "proxy/connect_target.h"
#include "proxy/connection_handler_win.h"
#include "proxy/connection_record.h"
#include "proxy/connection_state_win.h"
#include "proxy/proxy_answers.h"

namespace vellum {
namespace {

// Bytes per receive: as in the body relay, larger only means fewer calls.
constexpr int kTunnelChunk = 65536;
// Receives and sends one direction makes in a row before the other gets its
// turn: a bulk transfer costs no look at the quiet side per chunk, and the
// quiet side still waits at most this many chunks.
constexpr int kTunnelBurst = 32;
// The longest a wait for bytes lasts before the abort is looked for again.
constexpr DWORD kTunnelWaitSliceMs = 1000;

enum class TunnelEnd { client_closed, server_closed, idle, failed, aborted };

// One direction of the tunnel: what came from `from` and is not yet sent to `to`.
struct TunnelFlow {
    SOCKET from = INVALID_SOCKET;
    SOCKET to = INVALID_SOCKET;
    std::vector<char> buffer = std::vector<char>(kTunnelChunk);
    int begin = 0;
    int end = 0;
    long long moved = 0;
    bool done = false;  // `from` has closed and everything it sent is passed on

    bool pending() const { return begin < end; }
};

enum class Pumped { moved, waiting, closed, failed };

bool would_block() {
    return WSAGetLastError() == WSAEWOULDBLOCK;
}

// Moves what the flow can without waiting: sends what is pending, receives
// more, a burst at most. Both sockets are non-blocking.
Pumped pump(TunnelFlow& flow) {
    bool moved = false;
    for (int turn = 0; turn < kTunnelBurst; ++turn) {
        if (flow.pending()) {
            const int sent = send(flow.to, flow.buffer.data() + flow.begin, flow.end - flow.begin, 0);
            if (sent == SOCKET_ERROR) {
                if (!would_block()) return Pumped::failed;
                break;
            }
            flow.begin += sent;
            moved = true;
            if (flow.pending()) break;  // no room for the rest yet
            continue;
        }
        const int received = recv(flow.from, flow.buffer.data(), kTunnelChunk, 0);
        if (received == 0) return Pumped::closed;
        if (received == SOCKET_ERROR) {
            if (!would_block()) return Pumped::failed;
            break;
        }
        flow.begin = 0;
        flow.end = received;
        flow.moved += received;
        moved = true;
    }
    return moved ? Pumped::moved : Pumped::waiting;
}

// The body of the upstream's refusal to the browser: `limit` bytes, or (-1)
// until the upstream closes or stays silent past its receive limit.
void pass_on(SOCKET from, SOCKET to, long long limit) {
    char buffer[16384];
    while (limit != 0) {
        const int wanted = limit < 0 ? static_cast<int>(sizeof buffer)
                                     : static_cast<int>(std::min<long long>(limit, sizeof buffer));
        const int got = recv(from, buffer, wanted, 0);
        if (got <= 0 || !send_text(to, std::string_view(buffer, static_cast<std::size_t>(got)))) return;
        if (limit > 0) limit -= got;
    }
}

bool set_non_blocking(SOCKET socket) {
    u_long on = 1;
    return ioctlsocket(socket, FIONBIO, &on) == 0;
}

}  // namespace

void ConnectionHandler::tunnel() {
    const std::string& request_line = request_->lines.front();
    log_detail(log_, "ツリー表示インターフェース開始\r\n");
    shared_request_ = std::move(owned_request_);
    tree_ticket_ = ui_.request_begun(shared_request_);
    log_detail(log_, "完了\r\n");
    if (aborted_by_request()) return;
    if (log_.debug_window) send_log_title(log_.debug_window, *request_->url);

    const std::optional<ConnectTarget> target = parse_connect_target(*request_->url);
    if (!target) {
        log_error(log_, "*** CONNECT の接続先が正しくありません！ ***\r\n");
        refuse_tunnel(400, bad_request_page(request_line));
        return;
    }
    log_detail(log_, format_text("トンネル接続先：%s:%d\r\n", target->host.c_str(), target->port));
    if (!record_.tunnel_ports.allows(target->port)) {
        log_error(log_, format_text("*** ポート %d へのトンネルは許可されていません！ ***\r\n", target->port));
        refuse_tunnel(403, forbidden_port_page(request_line));
        return;
    }
    if (!internet_) {
        log_error(log_, "*** オフラインなのでトンネルは開けません！ ***\r\n");
        refuse_tunnel(503, offline_tunnel_page(request_line));
        return;
    }

    if (proxy_.proxy) {
        log_detail(log_, "インターネットへのアクセスにプロキシサーバーを使用します\r\n");
        target_host_ = proxy_.address;
        target_port_ = std::atoi(proxy_.port.c_str());
    } else {
        target_host_ = target->host;
        target_port_ = target->port;
    }
    if (!open_server_connection()) return;
    if (proxy_.proxy && !open_upstream_tunnel(*request_->url)) return;

    if (!send_text(client_socket_, kTunnelEstablished)) {
        log_error(log_, "*** クライアントに送信出来ません！ ***\r\n");
        status_ = ConnectionStatus::socket_failed;
        return;
    }
    response_code_ = 200;
    log_detail(log_, "トンネル接続完了\r\n");
    if (abort_check()) return;
    relay_tunnel();
}

void ConnectionHandler::refuse_tunnel(int response_code, const LineList& page) {
    response_code_ = response_code;
    send_header_to_client(client_socket_, page, log_);
    status_ = ConnectionStatus::socket_failed;
}

bool ConnectionHandler::open_upstream_tunnel(const std::string& target) {
    const LineList lines{"CONNECT " + target + " HTTP/1.0\r\n", "Host: " + target + "\r\n", "\r\n"};
    log_detail(log_, "リクエストヘッダー(to Server)の内容 次の行から--->\r\n");
    log_lines(log_, log_.detail, lines);
    log_detail(log_, "<---ここまで\r\n");
    log_detail(log_, "リクエストヘッダー(to Server)送信開始\r\n");
    if (!send_lines(server_socket_, lines)) {
        log_error(log_, "*** サーバーにリクエストヘッダーが送信出来ません！ ***\r\n");
        status_ = ConnectionStatus::socket_failed;
        return false;
    }
    log_detail(log_, "完了\r\n");
    if (abort_check()) return false;

    // A proxy that takes the CONNECT and never answers is let go like an idle tunnel.
    limit_receive_silence(server_socket_, record_.tunnel_idle_seconds);
    log_detail(log_, "レスポンスヘッダー(from Server)受信開始\r\n");
    SocketSource source(server_socket_);
    int parse_status = 0;
    response_ = parse_response_header(source, parse_status);
    if (abort_check()) return false;
    if (!response_) {
        log_error(log_, "*** プロキシサーバーから CONNECT の応答がありません！ ***\r\n");
        send_header_to_client(client_socket_, connect_error_page(target_host_, target_port_), log_);
        status_ = ConnectionStatus::socket_failed;
        return false;
    }
    log_detail(log_, "完了\r\n");
    log_detail(log_, "レスポンスヘッダー(from Server)の内容 次の行から--->\r\n");
    log_lines(log_, log_.detail, response_->lines);
    log_detail(log_, "<---ここまで\r\n");
    response_code_ = response_->status;
    if (response_->status >= 200 && response_->status <= 299) return true;

    // The upstream's refusal (authentication, a port it does not allow, a
    // server it can't reach) is the browser's answer.
    log_error(log_, format_text("*** プロキシサーバーがトンネルを断りました (%d) ***\r\n", response_->status));
    std::optional<LineList> header = build_client_response_header(response_->lines);
    if (header && send_header_to_client(client_socket_, *header, log_) == ConnectionStatus::ok) {
        pass_on(server_socket_, client_socket_, response_->content_length);
    }
    status_ = ConnectionStatus::socket_failed;
    return false;
}

void ConnectionHandler::relay_tunnel() {
    TunnelFlow upward;  // browser to server
    upward.from = client_socket_;
    upward.to = server_socket_;
    TunnelFlow downward;  // server to browser
    downward.from = server_socket_;
    downward.to = client_socket_;
    TunnelFlow* flows[] = {&upward, &downward};

    TunnelEnd end = TunnelEnd::failed;
    int error = 0;
    std::optional<TunnelEnd> first_close;
    if (!set_non_blocking(client_socket_) || !set_non_blocking(server_socket_)) {
        error = WSAGetLastError();
    } else {
        const ULONGLONG idle_limit = static_cast<ULONGLONG>(record_.tunnel_idle_seconds) * 1000;
        ULONGLONG last_moved = GetTickCount64();
        for (;;) {
            bool moved = false;
            bool failed = false;
            for (TunnelFlow* flow : flows) {
                if (flow->done) continue;
                const TunnelEnd closer = flow == &upward ? TunnelEnd::client_closed : TunnelEnd::server_closed;
                switch (pump(*flow)) {
                case Pumped::moved:
                    moved = true;
                    break;
                case Pumped::waiting:
                    break;
                case Pumped::closed:
                    // Passed on as a half close: the other side may still answer.
                    flow->done = true;
                    shutdown(flow->to, SD_SEND);
                    if (!first_close) first_close = closer;
                    break;
                case Pumped::failed:
                    // A side that has closed may refuse what the other still
                    // sends it: that is the end of the tunnel, not a fault.
                    error = WSAGetLastError();
                    if (first_close) {
                        flow->done = true;
                    } else {
                        failed = true;
                    }
                    break;
                }
                if (failed) break;
            }
            if (failed) break;
            if (upward.done && downward.done) {
                end = *first_close;
                break;
            }
            if (record_.abort_posted.load(std::memory_order_acquire)) {
                end = TunnelEnd::aborted;
                break;
            }
            const ULONGLONG now = GetTickCount64();
            if (moved) {
                last_moved = now;
                continue;
            }
            if (now - last_moved >= idle_limit) {
                end = TunnelEnd::idle;
                break;
            }

            fd_set readable;
            fd_set writable;
            FD_ZERO(&readable);
            FD_ZERO(&writable);
            for (TunnelFlow* flow : flows) {
                if (flow->done) continue;
                if (flow->pending()) {
                    FD_SET(flow->to, &writable);
                } else {
                    FD_SET(flow->from, &readable);
                }
            }
            const ULONGLONG wait_ms = std::min<ULONGLONG>(kTunnelWaitSliceMs, idle_limit - (now - last_moved));
            timeval timeout{static_cast<long>(wait_ms / 1000), static_cast<long>(wait_ms % 1000) * 1000};
            const int ready = select(0, &readable, &writable, nullptr, &timeout);
            if (ready == SOCKET_ERROR) {
                // The close sequence closes both sockets under the wait.
                error = WSAGetLastError();
                end = record_.abort_posted.load(std::memory_order_acquire) ? TunnelEnd::aborted : TunnelEnd::failed;
                break;
            }
            if (ready == 0 && abort_pending()) {
                end = TunnelEnd::aborted;
                break;
            }
        }
    }

    // Closing the program cuts both sockets under the relay: the failure
    // that follows is the abort's.
    if (end == TunnelEnd::failed && (record_.abort_posted.load(std::memory_order_acquire) || abort_pending())) {
        end = TunnelEnd::aborted;
    }
    log_detail(log_, "通信量(byte) クライアント → サーバー：" + std::to_string(upward.moved) + "\r\n");
    log_detail(log_, "通信量(byte) サーバー → クライアント：" + std::to_string(downward.moved) + "\r\n");
    switch (end) {
    case TunnelEnd::client_closed:
        log_detail(log_, "クライアントが切断しました\r\n");
        break;
    case TunnelEnd::server_closed:
        log_detail(log_, "サーバーが切断しました\r\n");
        break;
    case TunnelEnd::idle:
        log_detail(log_, format_text("%d 秒間通信が無いので切断します\r\n", record_.tunnel_idle_seconds));
        break;
    case TunnelEnd::failed:
        log_error(log_, "*** トンネル通信中にソケットエラー発生！ ***\r\n");
        if (error) log_error(log_, format_text("*** ソケットエラー(%d) ***\r\n", error));
        status_ = ConnectionStatus::socket_failed;
        break;
    case TunnelEnd::aborted:
        status_ = ConnectionStatus::aborted;
        break;
    }
}

}  // namespace vellum
