// The messages between the proxy's worker threads and the UI thread, typed:
// one ask on the worker's side and one decoded record with its answer on the
// UI side for each request. This header and ui_requests_win.cpp are the only
// places that know how a request sits in WPARAM and LPARAM; the numbers are
// in base/messages.h.
//
// Worker side. A connection thread asks through its UiLink: every request but
// the reservation, the request tree's reports and the connection's end is
// posted to the main window with the connection's record as wParam and
// waited for (ask_ui, proxy/connection_io_win.h): the answer is a thread
// message with the same number. The thread's own sockets need no answer and
// are handled on the thread. A CTM_ABORT seen meanwhile is remembered
// (aborted()); the caller checks it after the request. The log window and
// progress messages are sent (synchronous).
//
// UI side. The main window (and a test's stand-in for it) decodes each
// message into the record below and answers the asking thread through it.
// Lent payloads stay the worker's and are valid until the answer; owned
// payloads belong to the UI side once decoded (the worker frees them when the
// post fails). Answers that carry something hand it to the worker, which
// frees it.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "base/parked_message_win.h"
#include "http/http_message.h"
#include "http/line_list.h"
#include "proxy/connection_status.h"

namespace vellum {

struct ConnectionRecord;
struct RequestNode;  // the request tree's node: only its address travels here

// How a request ended, for its node in the request tree.
struct RequestResult {
    LineList log;
    int content_class = 0;  // proxy/content_kind.h
    int response_code = -1;
    ConnectionStatus status = ConnectionStatus::ok;  // anything else is an abnormal end
};

// What a sender of MWM_REQUEST_DONE tells the request tree when its request
// ends.
struct RequestDoneBlock {
    ConnectionRecord* record = nullptr;
    RequestNode* node = nullptr;  // the MWM_REQUEST_ADD answer
    RequestResult result;
};

// Pairs a request's MWM_REQUEST_ENDED with its MWM_REQUEST_BEGUN: unique for
// the program's run, never 0.
using RequestTicket = std::uint64_t;

// MWM_REQUEST_BEGUN, posted: a connection's request for the request tree.
// The tree shares the request with the thread, which reads it to the end.
struct RequestBegun {
    RequestTicket ticket = 0;
    std::shared_ptr<const ProxyRequest> request;
    bool crawler_connection = false;  // the record's autoget_connection when posted
    static std::unique_ptr<RequestBegun> adopt(LPARAM lparam);
};

// MWM_REQUEST_ENDED, posted: how the request with `ticket` ended.
struct RequestEnded {
    RequestTicket ticket = 0;
    RequestResult result;
    static std::unique_ptr<RequestEnded> adopt(LPARAM lparam);
};

// ---------------------------------------------------------------- worker side

// The accept thread hands a new socket to the main window (MWM_CLIENT_ACCEPTED).
bool post_accepted_socket(HWND main_window, SOCKET socket);

// One connection thread's requests to the main window.
class UiLink {
public:
    UiLink(HWND main_window, ConnectionRecord& record) : main_window_(main_window), record_(record) {}

    HWND main_window() const { return main_window_; }
    // A CTM_ABORT was seen while waiting for an answer.
    bool aborted() const { return aborted_; }

    // Afterwards the record's server_socket holds a new socket, or
    // INVALID_SOCKET when none is made: the connection was aborted (see
    // aborted()) or is the stopped crawler's. Made here, not asked for: no
    // answer of the UI thread's is needed (MWM_OPEN_SERVER_SOCKET does the
    // same for a sender outside).
    void open_server_socket();
    // Close the record's sockets, unless the UI thread cut them first. The
    // client socket of a reservation is closed by the main window
    // (MWM_CLOSE_CLIENT_SOCKET), after it has taken the reservation.
    void close_server_socket();
    void close_client_socket();
    void mark_autoget();         // MWM_MARK_AUTOGET
    // MWM_REQUEST_BEGUN, not answered: whether the request is shown is the
    // main window's business. The ticket for request_ended, or none when the
    // message could not be posted.
    std::optional<RequestTicket> request_begun(std::shared_ptr<const ProxyRequest> request);
    // MWM_REQUEST_ENDED, not answered: the tree takes the log in `ended`.
    void request_ended(std::unique_ptr<RequestEnded> ended);
    // The Cookie value for `url`, or none: read from the jar when the record
    // can (cookies_for), else asked (MWM_COOKIE_GET).
    std::optional<std::string> cookie_for(const ParsedUrl& url);
    // MWM_COOKIE_SET: one Set-Cookie value, the request's host and whether
    // the answer came over TLS.
    void store_cookie(std::string set_cookie, std::string host, bool over_https = false);
    // MWM_AUTH_NOTE: the server at `host` asked for credentials with `challenge`.
    void note_authentication(std::string host, std::string challenge);
    // MWM_QUEUE_GETONLY: a whole request for the forced-get queue.
    void queue_forced_get(LineList request);
    // MWM_RESERVE, not answered: the UI thread owns the request from here on.
    void reserve(std::unique_ptr<ProxyRequest> request);
    // MWM_CONNECTION_DONE, not answered: the thread's last act; the record
    // may be gone as soon as it is posted.
    void connection_done();
    // MWM_OPEN_LOG (sent): a connection debug window, or nullptr.
    HWND open_debug_window();

private:
    std::optional<WPARAM> ask(UINT message, LPARAM lparam = 0);
    template <typename T>
    void ask_owned(UINT message, std::unique_ptr<T> payload);

    // Remembers a CTM_ABORT waiting in the thread's queue (aborted()).
    void look_for_abort();
    // Aborted, or the connection is the stopped crawler's.
    bool server_socket_unwanted();

    HWND main_window_;
    ConnectionRecord& record_;
    bool aborted_ = false;
    bool reserved_ = false;  // a reservation was posted
};

// MWM_OPEN_LOG (sent): a new log window owned by the main window, a
// connection debug window with its progress bar or a plain one; nullptr when
// it could not be made.
HWND send_open_log(HWND main_window, bool debug_window);

// MWM_PROGRESS (sent to the main window) and AGM_PROGRESS (passed on by it to
// the auto-get window): percent 0-100, `crawler` for requests carrying the
// auto-get marker.
void send_progress(HWND window, UINT message, int percent, bool crawler);

// The log window's messages (sent): the whole log, the title, the bar.
void send_log_text(HWND log_window, const std::string& text);
void send_log_title(HWND log_window, const std::string& title);
void send_log_progress(HWND log_window, int percent);

// ---------------------------------------------------------------- UI side

// A request that is answered: the asking thread gets a thread message with
// the request's number.
struct AnsweredRequest {
    UINT message = 0;
    ConnectionRecord* record = nullptr;
    void answer() const;
};

struct AcceptedSocket {  // MWM_CLIENT_ACCEPTED
    SOCKET socket;
    static AcceptedSocket decode(WPARAM wparam, LPARAM lparam);
};

struct ConnectionDone {  // MWM_CONNECTION_DONE, not answered
    ConnectionRecord* record;
    static ConnectionDone decode(WPARAM wparam, LPARAM lparam);
};

// MWM_OPEN_SERVER_SOCKET, MWM_CLOSE_SERVER_SOCKET and MWM_CLOSE_CLIENT_SOCKET:
// the record is all they carry.
struct SocketRequest : AnsweredRequest {
    static SocketRequest decode(UINT message, WPARAM wparam, LPARAM lparam);
};

struct MarkAutoget : AnsweredRequest {  // MWM_MARK_AUTOGET
    bool mark = false;
    static MarkAutoget decode(WPARAM wparam, LPARAM lparam);
};

struct RequestAdd : AnsweredRequest {  // MWM_REQUEST_ADD
    ProxyRequest* request = nullptr;  // lent; a node the answer names keeps it
    static RequestAdd decode(WPARAM wparam, LPARAM lparam);
    void answer(RequestNode* node) const;
    // The message as it came, to be handled again later.
    ParkedMessage parked() const;
};

struct RequestDone : AnsweredRequest {  // MWM_REQUEST_DONE
    RequestDoneBlock* block = nullptr;  // lent
    static RequestDone decode(WPARAM wparam, LPARAM lparam);
    ParkedMessage parked() const;
};

struct CookieGet : AnsweredRequest {  // MWM_COOKIE_GET
    const ParsedUrl* url = nullptr;  // lent
    static CookieGet decode(WPARAM wparam, LPARAM lparam);
    void answer(std::optional<std::string> cookie) const;
};

struct CookieSet : AnsweredRequest {  // MWM_COOKIE_SET
    std::string set_cookie;
    std::string host;
    bool over_https = false;  // the answer came over TLS
    static CookieSet decode(WPARAM wparam, LPARAM lparam);
};

struct AuthNote : AnsweredRequest {  // MWM_AUTH_NOTE
    std::string host;       // the request's Host value
    std::string challenge;  // the server's WWW-Authenticate value
    static AuthNote decode(WPARAM wparam, LPARAM lparam);
};

struct ForcedGet : AnsweredRequest {  // MWM_QUEUE_GETONLY
    LineList request;  // request line first; empty when none came
    static ForcedGet decode(WPARAM wparam, LPARAM lparam);
};

struct Reservation {  // MWM_RESERVE, not answered
    std::unique_ptr<ProxyRequest> request;
    static Reservation decode(WPARAM wparam, LPARAM lparam);
};

struct OpenLog {  // MWM_OPEN_LOG
    bool debug_window;  // a connection debug window (with its bar), else a plain log window
    static OpenLog decode(WPARAM wparam, LPARAM lparam);
    // What the window procedure returns to the sender.
    static LRESULT result(HWND log_window);
};

struct ProgressReport {  // MWM_PROGRESS, AGM_PROGRESS
    int percent;
    bool crawler;
    static ProgressReport decode(WPARAM wparam, LPARAM lparam);
};

// CTM_ABORT to a connection thread: stop at the next check.
void post_abort(ConnectionRecord& record);

// The log window's side of its messages.
const char* log_text_of(WPARAM wparam);  // LWM_SET_TEXT, LWM_SET_TITLE
int log_progress_of(WPARAM wparam);      // LWM_SET_PROGRESS

}  // namespace vellum
