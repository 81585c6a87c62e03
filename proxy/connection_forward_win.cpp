// Forwarding a request to the server or the upstream proxy, relaying the
// answer to the browser and, when page saving applies, recording it: the body
// goes to a receiving file first and replaces the recording only after the
// whole transfer succeeded.
#include <cstdlib>
#include <cstring>

#include "base/format_win.h"
#include "base/messages.h"
#include "proxy/connection_handler_win.h"
#include "proxy/connection_record.h"
#include "proxy/connection_state_win.h"
#include "proxy/dialup_win.h"
#include "proxy/proxy_answers.h"
#include "proxy/server_stream_win.h"
#include "proxy/tls_client_win.h"
#include "http/url_text.h"
#include "store/store_lock_win.h"
#include "proxy/ui_requests.h"
#include "store/folder_listing_win.h"
#include "store/recorded_page.h"
#include "store/recorded_page_win.h"
#include "store/store_files_win.h"

namespace vellum {
namespace {

constexpr int kConnectAttempts = 5;
constexpr DWORD kConnectPauseMs = 500;
constexpr int kConnectionRefused = 10061;  // WSAECONNREFUSED

bool is_dotted_ipv4(const std::string& host) {
    if (host.empty()) return false;
    int dots = 0;
    for (char c : host) {
        if (c == '.') {
            ++dots;
        } else if (c < '0' || c > '9') {
            return false;
        }
    }
    return dots == 3 && inet_addr(host.c_str()) != INADDR_NONE;
}

// Brings the dial-up line up when it is down; false when dialling failed.
// Blocks for as long as the dial takes.
bool dial_up(const DialUpSettings& dialup, ConnectionLog& log) {
    log_detail(log, "ダイアルアップ接続をサポートします。\r\n");
    if (dialup_is_connected()) {
        log_detail(log, "ダイアルアップ接続しています。\r\n");
        return true;
    }
    log_detail(log, "ダイアルアップ接続開始\r\n");
    if (!dialup_dial(dialup.dialStr, dialup.idStr, dialup.passwordStr)) return false;
    log_detail(log, "ダイアルアップ接続しました。\r\n");
    return true;
}

}  // namespace

void ConnectionHandler::forward() {
    https_ = is_https(request_->parsed_url);
    if (proxy_.proxy) {
        log_detail(log_, "インターネットへのアクセスにプロキシサーバーを使用します\r\n");
        target_host_ = proxy_.address;
        target_port_ = std::atoi(proxy_.port.c_str());
    } else {
        target_host_ = request_->parsed_url.host.value_or("");
        target_port_ = request_->parsed_url.port ? std::atoi(request_->parsed_url.port->c_str())
                                                 : default_port(request_->parsed_url);
    }
    if (!open_server_connection()) return;
    if (!open_server_stream()) return;
    if (!send_request_to_server()) return;
    if (other_method_) {
        relay_other();
        return;
    }
    receive_response();
}

bool ConnectionHandler::take_server_socket() {
    ui_.open_server_socket();
    if (aborted_by_request()) return false;
    server_socket_ = record_.server_socket.load();
    return server_socket_ != INVALID_SOCKET;
}

bool ConnectionHandler::open_server_connection() {
    if (!take_server_socket()) {
        if (status_ == ConnectionStatus::aborted) return false;
        if (int error = WSAGetLastError()) log_error(log_, format_text("*** サーバー接続用 socket エラー(%d) ***\r\n", error));
        if (!crawler()) send_header_to_client(client_socket_, connect_error_page(target_host_, target_port_), log_);
        status_ = ConnectionStatus::socket_failed;
        return false;
    }
    log_detail(log_, format_text("サーバー通信用ソケット識別子：%u\r\n", static_cast<unsigned>(server_socket_)));

    if (dialup_.support && !dial_up(dialup_, log_)) {
        status_ = ConnectionStatus::socket_failed;
        // Nobody waits for a crawler's answer: it just ends.
        if (!crawler()) {
            log_error(log_, "ダイアルアップ接続エラー\r\n");
            send_header_to_client(client_socket_, dial_up_error_page(), log_);
        }
        return false;
    }

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(target_port_));
    if (is_dotted_ipv4(target_host_)) {
        address.sin_addr.s_addr = inet_addr(target_host_.c_str());
    } else {
        log_detail(log_, format_text("%s のIPアドレスを調べます\r\n", target_host_.c_str()));
        hostent* host = gethostbyname(target_host_.c_str());
        if (abort_check()) return false;
        if (!host || !host->h_addr_list[0]) {
            log_error(log_, format_text("*** gethostbyname エラー(%d) ***\r\n", WSAGetLastError()));
            status_ = ConnectionStatus::socket_failed;
            return false;
        }
        std::memcpy(&address.sin_addr, host->h_addr_list[0], sizeof address.sin_addr);
        const auto* bytes = reinterpret_cast<const unsigned char*>(&address.sin_addr);
        log_detail(log_, format_text("%s のIPアドレスは %d.%d.%d.%d\r\n", target_host_.c_str(), bytes[0], bytes[1],
                                     bytes[2], bytes[3]));
    }

    for (int attempt = 1;; ++attempt) {
        log_detail(log_, format_text("%s:%d に接続開始\r\n", target_host_.c_str(), target_port_));
        int result = connect(server_socket_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        int error = result == SOCKET_ERROR ? WSAGetLastError() : 0;
        if (abort_check()) return false;
        if (result != SOCKET_ERROR) break;
        log_error(log_, format_text("*** connect エラー(%d) ***\r\n", error));
        if (error == kConnectionRefused && attempt < kConnectAttempts) {
            Sleep(kConnectPauseMs);
            // Not every socket layer lets a refused socket connect again
            // (Windows does, Wine's does not): each further attempt gets a
            // fresh one.
            close_server_socket();
            if (!take_server_socket()) {
                if (status_ != ConnectionStatus::aborted) status_ = ConnectionStatus::socket_failed;
                return false;
            }
            continue;
        }
        status_ = ConnectionStatus::socket_failed;
        return false;
    }
    log_detail(log_, "完了\r\n");
    return true;
}

bool ConnectionHandler::open_server_stream() {
    if (!https_) {
        server_stream_ = std::make_unique<PlainServerStream>(server_socket_);
        return true;
    }
    const std::string host = request_->parsed_url.host.value_or("");
    const int port =
        request_->parsed_url.port ? std::atoi(request_->parsed_url.port->c_str()) : default_port(request_->parsed_url);
    if (proxy_.proxy && !open_proxy_tunnel(host, port)) return false;

    log_detail(log_, format_text("%s:%d とTLS接続開始\r\n", host.c_str(), port));
    TlsFailure failure = TlsFailure::none;
    long error = 0;
    std::unique_ptr<TlsStream> tls = TlsStream::open(server_socket_, host, record_.tls_handshake_seconds, failure, error);
    if (abort_check()) return false;
    if (!tls) {
        log_error(log_, tls_failure_log_line(failure, error));
        // Nothing of the server's reached the browser: it is told why, and
        // nothing is recorded.
        if (!crawler()) send_header_to_client(client_socket_, tls_error_page(host, port, tls_failure_reason(failure)), log_);
        status_ = ConnectionStatus::socket_failed;
        return false;
    }
    log_detail(log_, format_text("完了（%s%s）\r\n", tls_protocol_name(tls->protocol()),
                                 tls->alpn_http11() ? ", ALPN http/1.1" : ""));
    server_stream_ = std::move(tls);
    return true;
}

bool ConnectionHandler::open_proxy_tunnel(const std::string& host, int port) {
    // The upstream proxy only ever sees the tunnel: the request, its
    // cookies and the answer travel inside the TLS.
    const std::string authority = format_text("%s:%d", host.c_str(), port);
    const LineList connect{"CONNECT " + authority + " HTTP/1.0\r\n", "Host: " + authority + "\r\n", "\r\n"};
    log_detail(log_, "リクエストヘッダー(to Proxy)の内容 次の行から--->\r\n");
    log_lines(log_, log_.detail, connect);
    log_detail(log_, "<---ここまで\r\n");
    PlainServerStream proxy(server_socket_);
    if (!proxy.send_all(connect.join())) {
        log_error(log_, "*** サーバーにリクエストヘッダーが送信出来ません！ ***\r\n");
        status_ = ConnectionStatus::socket_failed;
        return false;
    }
    int parse_status = 0;
    std::unique_ptr<ServerResponse> answer = parse_response_header(proxy, parse_status);
    if (abort_check()) return false;
    if (!answer || answer->status < 200 || answer->status > 299) {
        log_error(log_, format_text("*** プロキシサーバーがトンネルを開きません！(%d) ***\r\n", answer ? answer->status : -1));
        if (!crawler()) send_header_to_client(client_socket_, connect_error_page(target_host_, target_port_), log_);
        status_ = ConnectionStatus::socket_failed;
        return false;
    }
    log_detail(log_, "レスポンスヘッダー(from Proxy)の内容 次の行から--->\r\n");
    log_lines(log_, log_.detail, answer->lines);
    log_detail(log_, "<---ここまで\r\n");
    return true;
}

bool ConnectionHandler::send_request_to_server() {
    // Inside a tunnel the origin is spoken to directly: the origin form.
    std::optional<LineList> lines =
        build_server_request(request_->lines, request_->parsed_url, proxy_.proxy != 0 && !https_, crawler());
    if (!lines) {
        log_error(log_, "*** リクエストヘッダー(to Server)作成エラー！ ***\r\n");
        status_ = ConnectionStatus::internal;
        return false;
    }
    std::optional<std::string> cookie = ui_.cookie_for(request_->parsed_url);
    if (cookie && !cookie->empty()) lines->append("Cookie: " + *cookie + "\r\n");
    lines->append("\r\n");
    if (aborted_by_request()) return false;

    log_detail(log_, "リクエストヘッダー(to Server)の内容 次の行から--->\r\n");
    log_lines(log_, log_.detail, *lines);
    log_detail(log_, "<---ここまで\r\n");
    log_detail(log_, "リクエストヘッダー(to Server)送信開始\r\n");
    if (!server_stream_->send_all(lines->join())) {
        log_error(log_, "*** サーバーにリクエストヘッダーが送信出来ません！ ***\r\n");
        status_ = ConnectionStatus::socket_failed;
        return false;
    }
    log_detail(log_, "完了\r\n");
    if (abort_check()) return false;

    if (request_->body) {
        log_detail(log_, "リクエスト本体(to Server)の内容 次の行から--->\r\n");
        log_detail(log_, *request_->body);
        log_detail(log_, "<---ここまで\r\n");
        log_detail(log_, "リクエスト本体(to Server)送信開始\r\n");
        if (!server_stream_->send_all(*request_->body)) {
            log_error(log_, "*** サーバーにリクエスト本体が送信出来ません！ ***\r\n");
            status_ = ConnectionStatus::socket_failed;
            return false;
        }
        log_detail(log_, "完了\r\n");
        if (abort_check()) return false;
    }
    return true;
}

void ConnectionHandler::relay_other() {
    log_detail(log_, "リクエストメソッドが GET POST 以外\r\n");
    // The answer runs until the server closes: the request's own length says
    // nothing about the length of the response.
    relay(server_stream_.get(), INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE, true, -1);
}

bool ConnectionHandler::relay(ByteSource* from_stream, HANDLE from_file, HANDLE to_file, bool to_client,
                              long long limit) {
    RelayEnds ends;
    ends.source_stream = from_stream;
    ends.source_file = from_file;
    ends.destination_file = to_file;
    ends.client_socket = to_client ? client_socket_ : INVALID_SOCKET;
    long long relayed = 0;
    status_ = relay_body(ends, limit, log_, autoget(), &relayed);
    // A body that ended before its announced length was cut off: what came is
    // relayed, but it is no page to record.
    if (status_ == ConnectionStatus::ok && limit > 0 && relayed < limit) status_ = ConnectionStatus::socket_failed;
    return !abort_check();
}

void ConnectionHandler::receive_response() {
    log_detail(log_, "レスポンスヘッダー(from Server)受信開始\r\n");
    char peeked[kHeaderPeekWindow];
    int count = server_stream_->peek_prefix("HTTP/", 5, peeked, kHeaderPeekWindow);
    if (count == 0) {
        log_error(log_, "*** サーバーから受信出来ません！ ***\r\n");
        status_ = ConnectionStatus::socket_failed;
        return;
    }
    if (count == SOCKET_ERROR) {
        log_error(log_, "*** サーバーから受信する際にソケットエラー発生！ ***\r\n");
        if (int error = WSAGetLastError()) log_error(log_, format_text("*** ソケットエラー(%d) ***\r\n", error));
        status_ = ConnectionStatus::socket_failed;
        return;
    }
    if (abort_check()) return;
    if (!starts_with_prefix(count, peeked, "HTTP/", 5)) {
        log_detail(log_, "レスポンスヘッダー無し\r\n");
        content_type_.reset();
        relay(server_stream_.get(), INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE, true, -1);
        return;
    }

    int parse_status = 0;
    response_ = parse_response_header(*server_stream_, parse_status);
    if (!response_) {
        log_error(log_, "*** エラー！ ***\r\n");
        status_ = parse_status == 1 ? ConnectionStatus::socket_failed : ConnectionStatus::internal;
        return;
    }
    if (abort_check()) return;
    log_detail(log_, "完了\r\n");
    log_detail(log_, "レスポンスヘッダー(from Server)の内容 次の行から--->\r\n");
    log_lines(log_, log_.detail, response_->lines);
    log_detail(log_, "<---ここまで\r\n");
    response_code_ = response_->status;

    for (const std::string& value : response_->set_cookies) {
        ui_.store_cookie(value, request_->parsed_url.host.value_or(""), https_);
    }
    if (response_->status == 401 && response_->www_authenticate && request_->host) {
        ui_.note_authentication(credential_host(request_->parsed_url, *request_->host), *response_->www_authenticate);
    }
    if (aborted_by_request()) return;

    if (stored_header_ && recorded_copy_is_current(*response_, *stored_header_)) {
        answer_from_recorded_copy();
        return;
    }
    relay_and_record();
}

void ConnectionHandler::answer_from_recorded_copy() {
    log_detail(log_, "ローカルに存在するファイルは更新されていません\r\n");
    log_detail(log_, format_text("サーバー Last-Modified：%s\r\n", response_->last_modified->c_str()));
    log_detail(log_, format_text("ローカル Last-Modified：%s\r\n", stored_header_->last_modified->c_str()));
    log_detail(log_, "サーバー通信用ソケットクローズ開始\r\n");
    close_server_socket();  // the server's body is never read
    if (aborted_by_request()) return;
    log_detail(log_, "完了\r\n");
    content_type_ = stored_header_->content_type;
    if (crawler()) return;

    log_detail(log_, "ローカルを使用します\r\n");
    if (!send_recorded_header()) return;
    relay(nullptr, page_file_.get(), INVALID_HANDLE_VALUE, true, stored_header_->content_length);
}

void ConnectionHandler::relay_and_record() {
    std::optional<LineList> header = build_client_response_header(response_->lines);
    if (!header) {
        log_error(log_, "*** レスポンスヘッダー(to Client)作成エラー！ ***\r\n");
        status_ = ConnectionStatus::internal;
        return;
    }
    if (!crawler()) {
        if (send_header_to_client(client_socket_, *header, log_) != ConnectionStatus::ok) {
            status_ = ConnectionStatus::socket_failed;
            return;
        }
        if (abort_check()) return;
    }
    content_type_ = response_->content_type;
    const int code = response_->status;
    if (code == 304) {
        note_not_modified();
    } else if (code >= 300 && code <= 399 && page_save_) {
        relay_redirect(*header);
    } else {
        relay_page();
    }
}

void ConnectionHandler::note_not_modified() {
    if (stored_header_ && client_copy_is_current(*request_, *stored_header_)) {
        if (!content_type_) content_type_ = stored_header_->content_type;
    } else if (page_save_ && !forced_get_marked(origin_) && request_->method->starts_with("GET")) {
        // The browser's cache is current but the store is not: fetch the
        // page once more, for the store.
        queue_forced_get_ = true;
    }
}

bool ConnectionHandler::open_receiving_file() {
    page_file_.reset();  // our own read handle would keep the page from being replaced
    DWORD error;
    {
        // Under the store lock, so the folder's kept listing takes the new
        // name in rather than list the folder afresh at the commit.
        StoreLockHold hold;
        receiving_file_ = create_file_with_folders(*receiving_path_);
        error = GetLastError();
    }
    if (receiving_file_) return true;
    log_file_error(*receiving_path_, error);
    if (!crawler()) return true;  // the browser still gets its answer, unrecorded
    status_ = ConnectionStatus::write_failed;
    return false;
}

bool ConnectionHandler::relay_into_receiving_file() {
    return relay(server_stream_.get(), INVALID_HANDLE_VALUE, receiving_file_ ? receiving_file_.get() : INVALID_HANDLE_VALUE,
                 !crawler(), response_->content_length);
}

void ConnectionHandler::commit_received(bool redirect) {
    // The body must be on the disk before its name replaces the page's, or a
    // power cut could leave the new name on an empty file. Outside the lock:
    // it waits for the disk.
    if (status_ == ConnectionStatus::ok && !FlushFileBuffers(receiving_file_.get())) {
        // As a failed write: the browser has its answer, nothing is committed.
        log_error(log_, "*** ローカルファイルライトエラー！ ***\r\n");
        status_ = ConnectionStatus::write_failed;
    }
    StoreLockHold hold;
    receiving_file_.reset();
    if (status_ == ConnectionStatus::ok) {
        std::optional<CommitFailure> failure;
        if (redirect) {
            std::optional<std::string> name = redirect_file_name(save_root_, request_->parsed_url);
            failure = name ? commit_redirect(*name, *receiving_path_)
                           : CommitFailure{*store_path_ + ".response", ERROR_FILENAME_EXCED_RANGE};
        } else {
            failure = commit_recorded_page(save_root_, request_->parsed_url, *response_, *receiving_path_);
        }
        if (failure) {
            log_file_error(failure->path, failure->error);
            if (crawler()) status_ = ConnectionStatus::write_failed;
        }
    }
    store_delete_file(*receiving_path_);
}

void ConnectionHandler::relay_redirect(const LineList& header) {
    log_detail(log_, "レスポンスコードが 300番台（304以外)です\r\n");
    if (!open_receiving_file()) return;
    // The redirect file keeps the whole answer: the header as the browser got it, then the body.
    if (receiving_file_ && !write_lines(receiving_file_.get(), header)) {
        receiving_file_.reset();
        DeleteFileA(receiving_path_->c_str());
        log_error(log_, "*** ローカルファイルライトエラー！ ***\r\n");
        if (crawler()) {
            status_ = ConnectionStatus::write_failed;
            return;
        }
    }
    if (!relay_into_receiving_file()) return;  // aborted: the end deletes the receiving file
    if (receiving_file_) commit_received(true);
}

void ConnectionHandler::relay_page() {
    if (page_save_) {
        const bool partner_page = response_->status == 200 && response_->partner_page &&
                                  request_->parsed_url.host.value_or("") == kPartnerHost;
        if (partner_page) {
            page_file_.reset();
            log_detail(log_, "KESTREL ONLINE 認証ページですので保存しません\r\n");
            kestrel_auth_ = true;
            if (crawler()) {
                log_error(log_, "*** KESTREL ONLINE 認証発生！ ***\r\n");
                status_ = ConnectionStatus::ok;
                return;
            }
        } else if (response_->status == 200) {
            if (!open_receiving_file()) return;
        } else {
            page_file_.reset();
            log_detail(log_, "レスポンスコードが 200 以外なので保存しません！\r\n");
        }
    }
    if (!relay_into_receiving_file()) return;
    if (receiving_file_) commit_received(false);
}

void ConnectionHandler::log_file_error(const std::string& path, DWORD error) {
    log_error(log_, format_text("*** ファイルが作成できません！ ***\r\n%s\r\nエラーコード：%X\r\n", path.c_str(),
                                static_cast<unsigned>(error)));
}

}  // namespace vellum
