// Request intake, answers from the local store, and the common end of every
// connection thread.
#include "proxy/connection_handler_win.h"

#include <cstring>

#include "base/debug_keys_win.h"
#include "base/format_win.h"
#include "base/messages.h"
#include "proxy/connection_record.h"
#include "proxy/connect_target.h"
#include "proxy/connection_state_win.h"
#include "proxy/content_kind.h"
#include "proxy/proxy_answers.h"
#include "proxy/crawler_report_win.h"
#include "proxy/own_connections_win.h"
#include "http/line_reader.h"
#include "store/store_lock_win.h"
#include "proxy/ui_requests.h"
#include "store/recorded_page.h"
#include "store/recorded_page_win.h"
#include "store/url_map.h"

namespace vellum {
namespace {

constexpr char kReservationMarker[] = "TESSEL.DLL\r\n";
constexpr int kReservationMarkerLength = 12;

}  // namespace

ConnectionStatus run_connection(ConnectionRecord& record) {
    ensure_thread_queue();
    ConnectionHandler handler(record);
    return handler.run();
}

ConnectionHandler::ConnectionHandler(ConnectionRecord& record)
    : record_(record),
      ui_(record.main_window, record),
      debug_mode_(record.debug_mode),
      client_socket_(record.client_socket.load()),
      server_socket_(record.server_socket.load()),
      internet_(record.internet),
      page_save_(record.page_save),
      save_root_(record.save_folder),
      proxy_(record.proxy),
      dialup_(record.dialup) {
    log_.detail = record.log_detail;
    log_.main_window = record.main_window;
}

ConnectionStatus ConnectionHandler::run() {
    if (debug_mode_ != 0 && log_.detail && record_.debug_windows) {
        SetForegroundWindow(ui_.main_window());
        log_.debug_window = ui_.open_debug_window();
        if (log_.debug_window) mark_debug_window(log_.debug_window);
    }
    log_detail(log_, format_text("クライエント通信用ソケット識別子：%u\r\n", static_cast<unsigned>(client_socket_)));
    // Only the request is read from the browser; a silent one ends the
    // connection like a closed one.
    limit_receive_silence(client_socket_, record_.request_idle_seconds);
    serve();
    finish();
    return status_;
}

bool ConnectionHandler::abort_check() {
    if (status_ == ConnectionStatus::ok && abort_pending()) {
        status_ = ConnectionStatus::aborted;
        return true;
    }
    return false;
}

bool ConnectionHandler::aborted_by_request() {
    if (!ui_.aborted()) return false;
    status_ = ConnectionStatus::aborted;
    return true;
}

void ConnectionHandler::serve() {
    if (!peek_reservation_marker()) return;
    if (!read_request()) return;
    if (reservation_) {
        ui_.reserve(std::move(owned_request_));
        request_ = nullptr;
        return;
    }
    if (connect_) {
        tunnel();
        return;
    }
    decide_mode_and_paths();
    log_detail(log_, "ツリー表示インターフェース開始\r\n");
    shared_request_ = std::move(owned_request_);
    tree_ticket_ = ui_.request_begun(shared_request_);
    log_detail(log_, "完了\r\n");
    if (aborted_by_request()) return;

    log_detail(log_, "------------------------------\r\n");
    log_detail(log_, format_text("自動取得：%d\r\n", autoget() ? 1 : 0));
    log_detail(log_, format_text("強制取得：%d\r\n", forced_get_marked(origin_) ? 1 : 0));
    log_detail(log_, format_text("ブラウザ連携：%d\r\n", crawler() ? 0 : 1));
    log_detail(log_, format_text("インターネット接続：%d\r\n", internet_ ? 1 : 0));
    log_detail(log_, format_text("ページ保存：%d\r\n", page_save_ ? 1 : 0));
    if (store_path_) log_detail(log_, "ファイル名：" + *store_path_ + "\r\n");
    if (request_->authorization) log_detail(log_, "認証情報：" + *request_->authorization + "\r\n");
    log_detail(log_, "------------------------------\r\n");

    look_up_recorded_page();
    if (internet_) {
        forward();
    } else {
        answer_offline();
    }
}

bool ConnectionHandler::peek_reservation_marker() {
    char* peeked = first_peek_.data();
    const int count = peek_prefix(client_socket_, kReservationMarker, kReservationMarkerLength, peeked,
                                  static_cast<int>(first_peek_.size()));
    if (count == 0) {
        log_error(log_, "*** 受信出来ません！ ***\r\n");
        status_ = ConnectionStatus::socket_failed;
        return false;
    }
    if (count == SOCKET_ERROR) {
        log_error(log_, "*** 受信する際にソケットエラー発生！ ***\r\n");
        if (int error = WSAGetLastError()) log_error(log_, format_text("*** ソケットエラー(%d) ***\r\n", error));
        status_ = ConnectionStatus::socket_failed;
        return false;
    }
    if (starts_with_prefix(count, peeked, kReservationMarker, kReservationMarkerLength)) {
        recv(client_socket_, peeked, kReservationMarkerLength, 0);
        SocketSource source(client_socket_);
        read_line(source, '\n');  // "ReserveAutoGet"
        reservation_ = true;
        return true;
    }
    first_peek_count_ = count;
    return true;
}

bool ConnectionHandler::read_request() {
    log_detail(log_, "リクエストヘッダー(from Client)受信開始\r\n");
    // The first bytes have arrived (the peek saw them), so the program's own
    // connections have announced themselves by now.
    sender_ = is_own_connection(client_socket_) ? RequestSender::own : RequestSender::stranger;
    // Unless a reservation's marker was taken, the request starts with what
    // the marker's peek saw.
    SocketSource source(client_socket_, std::string_view(first_peek_.data(), first_peek_count_));
    int parse_status = 0;
    owned_request_ = parse_request(source, parse_status, sender_);
    if (!owned_request_) {
        log_error(log_, format_text("*** リクエストヘッダー受信エラー！ (%d) ***\r\n", parse_status));
        status_ = parse_status == 1 ? ConnectionStatus::socket_failed : ConnectionStatus::internal;
        return false;
    }
    request_ = owned_request_.get();
    if (abort_check()) return false;
    log_detail(log_, "完了\r\n");
    log_detail(log_, "リクエストヘッダー(from Client)の内容 次の行から--->\r\n");
    log_lines(log_, log_.detail, request_->lines);
    log_detail(log_, "<---ここまで\r\n");
    if (request_->body) {
        log_detail(log_, "リクエスト本体(from Client)の内容 次の行から--->\r\n");
        log_detail(log_, *request_->body);
        log_detail(log_, "<---ここまで\r\n");
    }
    if (!reservation_ && request_->method == kConnectMethod) {
        connect_ = true;
        return true;
    }
    if (log_.debug_window) {
        send_log_title(log_.debug_window, *request_->url);
    }
    if (!header_name_is(*request_->url, "http://") && !header_name_is(*request_->url, "https://")) {
        log_error(log_, "*** プロトコルが HTTP ではありません！ ***\r\n");
        status_ = ConnectionStatus::not_http;
        reservation_ = false;
        return false;
    }
    return true;
}

void ConnectionHandler::decide_mode_and_paths() {
    if (!request_->local_root.empty()) save_root_ = request_->local_root;
    store_path_ = url_store_path(save_root_, request_->parsed_url);
    if (store_path_) {
        // A receiving file that no path buffer can hold could never be made:
        // such a page is relayed without being recorded.
        std::string receiving = receiving_file_name(*store_path_, static_cast<unsigned>(client_socket_));
        if (receiving.size() < kPathBufferSize) receiving_path_ = std::move(receiving);
    }

    origin_ = request_origin(*request_);
    if (crawler()) internet_ = page_save_ = true;
    if (autoget()) ui_.mark_autoget();
    const std::string method = request_->method.value_or("");
    other_method_ = !method.starts_with("GET") && !method.starts_with("POST");
    if (other_method_ || !internet_ || !store_path_ || !receiving_path_) page_save_ = false;
}

void ConnectionHandler::look_up_recorded_page() {
    log_detail(log_, "ローカルが存在するか確認\r\n");
    std::optional<RecordedPage> page;
    {
        StoreLockHold hold;
        page = open_recorded_page(save_root_, request_->parsed_url);
    }
    if (page) {
        page_file_ = std::move(page->file);
        stored_header_ = std::move(page->header);
        log_detail(log_, "ローカルは存在します\r\n");
        log_detail(log_, "レスポンスヘッダー(from Local)の内容 次の行から--->\r\n");
        log_lines(log_, log_.detail, stored_header_->lines);
        log_detail(log_, "<---ここまで\r\n");
    } else {
        log_detail(log_, "ローカルは存在しません\r\n");
    }
}

void ConnectionHandler::answer_offline() {
    if (crawler()) {
        status_ = ConnectionStatus::internal;  // nothing to fetch it from
        return;
    }
    if (other_method_) {
        log_error(log_, "*** リクエストメソッドが GET POST 以外です！ ***\r\n");
        response_code_ = 501;
        send_header_to_client(client_socket_, not_implemented_page(request_->lines.front()), log_);
        status_ = ConnectionStatus::socket_failed;
        return;
    }
    if (!stored_header_) {
        std::optional<std::string> redirect = redirect_file_name(save_root_, request_->parsed_url);
        FileHandle file;
        if (redirect) {
            file.reset(CreateFileA(redirect->c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        }
        if (file) {
            log_detail(log_, "レスポンスファイルにて応答します\r\n");
            log_detail(log_, "レスポンスファイル名：" + *redirect + "\r\n");
            RelayEnds ends;
            ends.source_file = file.get();
            ends.client_socket = client_socket_;
            status_ = relay_body(ends, -1, log_, autoget());
            abort_check();
            return;
        }
        log_error(log_, "*** ローカルが存在しません！ ***\r\n");
        response_code_ = 404;
        status_ = send_header_to_client(client_socket_, not_found_page(request_->lines.front(), store_path_), log_);
        abort_check();
        return;
    }
    if (client_copy_is_current(*request_, *stored_header_)) {
        log_detail(log_, "クライアントのキャッシュとローカルが同じファイルです\r\n");
        status_ = send_lines(client_socket_, LineList{"HTTP/1.0 304 Not Modified\r\n", "\r\n"})
                      ? ConnectionStatus::ok
                      : ConnectionStatus::socket_failed;
        response_code_ = 304;
        content_type_ = stored_header_->content_type;
        abort_check();
        return;
    }
    log_detail(log_, "ローカルがクライアントのキャッシュより新しいファイルです\r\n");
    response_code_ = stored_header_->status;
    content_type_ = stored_header_->content_type;
    if (!send_recorded_header()) return;
    RelayEnds ends;
    ends.source_file = page_file_.get();
    ends.client_socket = client_socket_;
    status_ = relay_body(ends, stored_header_->content_length, log_, autoget());
    abort_check();
}

bool ConnectionHandler::send_recorded_header() {
    if (send_header_to_client(client_socket_, stored_header_->lines, log_) != ConnectionStatus::ok) {
        status_ = ConnectionStatus::socket_failed;
        return false;
    }
    return !abort_check();
}

void ConnectionHandler::close_server_socket() {
    server_stream_.reset();
    ui_.close_server_socket();
    server_socket_ = INVALID_SOCKET;
}

void ConnectionHandler::finish() {
    page_file_.reset();
    if (receiving_file_) {
        receiving_file_.reset();
        // Only a complete, committed transfer replaces a recording.
        DeleteFileA(receiving_path_->c_str());
    }
    if (server_socket_ != INVALID_SOCKET) {
        log_detail(log_, "サーバー通信用ソケットクローズ開始\r\n");
        close_server_socket();
        log_detail(log_, "完了\r\n");
    }
    if (request_ && request_->autoget_mark) report_to_crawler();

    log_detail(log_, "クライアント通信用ソケットクローズ開始\r\n");
    ui_.close_client_socket();
    log_detail(log_, "完了\r\n");
    report_progress(log_, 0, autoget());

    if (status_ == ConnectionStatus::ok) {
        log_detail(log_, "正常終了\r\n");
        if (log_.debug_window && debug_mode_ == 2) SendMessageA(log_.debug_window, WM_COMMAND, IDCANCEL, 0);
    } else if (status_ == ConnectionStatus::aborted) {
        log_error(log_, "*** 強制終了！ ***\r\n");
    } else {
        log_detail(log_, "エラー終了\r\n");
    }

    // The request may go with its tree node once the node is finished.
    std::optional<LineList> forced_get;
    if (queue_forced_get_) forced_get = forced_get_request();
    if (tree_ticket_) {
        auto ended = std::make_unique<RequestEnded>();
        ended->ticket = *tree_ticket_;
        ended->result.log = std::move(log_.lines);
        ended->result.content_class = content_kind(content_type_);
        ended->result.response_code = response_code_;
        ended->result.status = status_;
        ui_.request_ended(std::move(ended));
    }
    if (forced_get) ui_.queue_forced_get(std::move(*forced_get));

    // Everything the thread owns goes with this object; the record belongs to
    // the UI thread, which frees it on this message.
    ui_.connection_done();
}

void ConnectionHandler::report_to_crawler() {
    if (status_ == ConnectionStatus::not_http) {
        report_fetch_failed(status_word(status_), "プロトコルがＨＴＴＰではありません");
    } else if (status_ == ConnectionStatus::write_failed) {
        report_fetch_failed(status_word(status_), "ファイル書き込みエラーが発生しました");
    } else if (status_ >= ConnectionStatus::internal) {
        report_fetch_failed(status_word(status_), "内部エラーが発生しました");
    } else if (status_ == ConnectionStatus::aborted) {
        report_fetch_failed(status_word(status_), nullptr);
    } else if (kestrel_auth_) {
        report_fetch_failed(status_word(ConnectionStatus::internal), "ケストレル社ONLINEの認証が発生しました");
    } else if (response_ && response_->status == 401 && response_->www_authenticate && request_->host) {
        report_fetch_auth(*response_->www_authenticate);
    } else if (status_ != ConnectionStatus::ok) {
        report_fetch_failed(status_word(status_), nullptr);
    } else {
        report_fetch_done(response_code_);
    }
}

LineList ConnectionHandler::forced_get_request() const {
    LineList entry{request_->lines.front()};
    entry.append(kForcedGetMarkLine);
    entry.append(kLocalPathPrefix + save_root_ + "\r\n");
    for (std::size_t i = 1; i < request_->lines.size(); ++i) {
        // The replay comes on the program's own connection: a stranger's
        // marker lines, which did nothing here, must do nothing there either.
        if (sender_ == RequestSender::stranger && is_own_request_line(request_->lines[i])) continue;
        entry.append(request_->lines[i]);
    }
    return entry;
}

}  // namespace vellum
