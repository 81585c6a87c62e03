// The working state of one connection thread, shared by the intake and
// offline half (connection_handler_win.cpp) and the forwarding half
// (connection_forward_win.cpp). Lives on the thread's stack; nothing in it is
// shared with other threads except through the UI requests.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <array>
#include <memory>
#include <optional>
#include <string>

#include "base/win_handles.h"
#include "http/line_list.h"
#include "http/line_reader.h"
#include "proxy/connection_io_win.h"
#include "http/http_message.h"
#include "proxy/connection_settings.h"
#include "proxy/connection_status.h"
#include "proxy/request_origin.h"
#include "proxy/server_stream_win.h"
#include "proxy/ui_requests.h"

namespace vellum {

struct ConnectionRecord;

class ConnectionHandler {
public:
    explicit ConnectionHandler(ConnectionRecord& record);
    ConnectionStatus run();

private:
    // Intake and local serving.
    void serve();
    bool peek_reservation_marker();
    bool read_request();
    void decide_mode_and_paths();
    void look_up_recorded_page();
    void answer_offline();
    // Sends the recorded page's header to the browser; false when the
    // connection must end (the status says why).
    bool send_recorded_header();

    // Forwarding and recording.
    void forward();
    bool open_server_connection();
    // Asks the UI thread for a server socket (any earlier one is closed by
    // it). False when none was given or the request was aborted meanwhile
    // (then with status 100).
    bool take_server_socket();
    // The stream the request and answer travel over: the socket itself for
    // http, TLS over it for https (inside a CONNECT to the upstream proxy
    // when one is used). False when the connection must end.
    bool open_server_stream();
    bool open_proxy_tunnel(const std::string& host, int port);
    bool send_request_to_server();
    void receive_response();
    void answer_from_recorded_copy();
    void relay_and_record();
    void note_not_modified();
    void relay_redirect(const LineList& header);
    void relay_page();
    void relay_other();
    // Creates the receiving file; false when the request must end (a crawler's
    // request can't go on without its file, a browser's goes on unrecorded).
    bool open_receiving_file();
    bool relay_into_receiving_file();
    // Under the store lock: closes the receiving file, puts a complete
    // transfer in place and deletes the receiving file.
    void commit_received(bool redirect);

    // A CONNECT: a tunnel to the target, or its refusal
    // (connection_tunnel_win.cpp).
    void tunnel();
    void refuse_tunnel(int response_code, const LineList& page);
    // Sends the CONNECT on to the upstream proxy; false when it did not open
    // the tunnel (its answer, if any, went to the browser).
    bool open_upstream_tunnel(const std::string& target);
    void relay_tunnel();

    // The common end.
    void finish();
    void report_to_crawler();
    // The request line, the forced-get marker, the save folder and the rest
    // of the client's header: what the forced-get queue replays.
    LineList forced_get_request() const;

    bool crawler() const { return for_crawler(origin_); }
    bool autoget() const { return autoget_marked(origin_); }

    // When no status is set yet and an abort is pending: status 100, true.
    bool abort_check();
    // When CTM_ABORT was seen while the UI thread answered: status 100, true.
    bool aborted_by_request();

    bool relay(ByteSource* from_stream, HANDLE from_file, HANDLE to_file, bool to_client, long long limit);
    void log_file_error(const std::string& path, DWORD error);
    void close_server_socket();

    ConnectionRecord& record_;
    UiLink ui_;
    ConnectionStatus status_ = ConnectionStatus::ok;
    ConnectionLog log_;
    int debug_mode_ = 0;
    SOCKET client_socket_;
    SOCKET server_socket_ = INVALID_SOCKET;
    // Over server_socket_ once it is connected; dropped before the socket is closed.
    std::unique_ptr<ServerStream> server_stream_;
    bool https_ = false;  // the target is an https:// URL
    bool internet_;
    bool page_save_;
    RequestSender sender_ = RequestSender::stranger;  // decided before the request is read
    RequestOrigin origin_ = RequestOrigin::browser;   // decided once the request is read
    bool reservation_ = false;
    bool connect_ = false;  // the request is a CONNECT: served as a tunnel
    // What the first peek at the browser's bytes saw, when no reservation
    // marker was taken since: the request's first bytes.
    std::array<char, kHeaderPeekWindow> first_peek_;
    int first_peek_count_ = 0;
    bool other_method_ = false;
    bool kestrel_auth_ = false;
    bool queue_forced_get_ = false;
    std::string save_root_;
    std::optional<std::string> store_path_;
    std::optional<std::string> receiving_path_;
    FileHandle page_file_;
    std::unique_ptr<ServerResponse> stored_header_;
    // The request: owned here until the reservation hands it on or it is
    // shared with the request tree; read through `request_` until the end
    // either way.
    std::unique_ptr<ProxyRequest> owned_request_;
    std::shared_ptr<const ProxyRequest> shared_request_;
    const ProxyRequest* request_ = nullptr;
    std::unique_ptr<ServerResponse> response_;
    FileHandle receiving_file_;
    int response_code_ = -1;
    std::optional<std::string> content_type_;
    std::optional<RequestTicket> tree_ticket_;  // the request was reported to the tree
    ProxySettings proxy_;
    DialUpSettings dialup_;
    std::string target_host_;
    int target_port_ = 80;
};

}  // namespace vellum
