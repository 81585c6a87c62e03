#include "proxy/ui_requests.h"

#include <atomic>

#include "base/messages.h"
#include "base/thread_message.h"
#include "proxy/connection_io_win.h"
#include "proxy/connection_record.h"

namespace vellum {
namespace {

WPARAM record_param(ConnectionRecord& record) {
    return reinterpret_cast<WPARAM>(&record);
}

ConnectionRecord* record_of(WPARAM wparam) {
    return reinterpret_cast<ConnectionRecord*>(wparam);
}

// A request of `message` from the thread whose record is `wparam`.
template <typename Request>
Request asked(UINT message, WPARAM wparam) {
    Request request;
    request.message = message;
    request.record = record_of(wparam);
    return request;
}

// A request that travels as its own record, owned by the receiver once
// posted; the sender leaves message and record to the receiver.
template <typename Request>
Request adopted(UINT message, WPARAM wparam, LPARAM lparam) {
    std::unique_ptr<Request> payload = adopt_param<Request>(lparam);
    Request request = payload ? std::move(*payload) : Request{};
    request.message = message;
    request.record = record_of(wparam);
    return request;
}

template <typename Request>
std::unique_ptr<Request> payload(Request request) {
    return std::make_unique<Request>(std::move(request));
}

void post_answer(const ConnectionRecord* record, UINT message, WPARAM value = 0) {
    PostThreadMessageA(record->thread_id, message, value, 0);
}

}  // namespace

// ---------------------------------------------------------------- worker side

bool post_accepted_socket(HWND main_window, SOCKET socket) {
    return PostMessageA(main_window, MWM_CLIENT_ACCEPTED, static_cast<WPARAM>(socket), 0) != FALSE;
}

std::optional<WPARAM> UiLink::ask(UINT message, LPARAM lparam) {
    return ask_ui(main_window_, message, record_param(record_), lparam, aborted_);
}

template <typename T>
void UiLink::ask_owned(UINT message, std::unique_ptr<T> payload) {
    look_for_abort();
    // The receiver owns the payload once the post succeeds; a failed post frees it here.
    if (!post_owned(main_window_, message, record_param(record_), std::move(payload))) return;
    wait_for_reply(message, aborted_);
}

void UiLink::look_for_abort() {
    if (abort_pending()) aborted_ = true;
}

bool UiLink::server_socket_unwanted() {
    look_for_abort();
    return aborted_ || (record_.autoget_connection && record_.autoget_stopped.load());
}

// The sockets are the thread's own business: it makes and closes them itself,
// and the record only publishes them so that the UI thread can cut them on an
// abort or a crawler stop. Every exchange goes through the record's atomic
// slot, so whichever side gets there first closes a socket, exactly once.
void UiLink::open_server_socket() {
    close_socket_slot(record_.server_socket);  // a second request must not leak the first socket
    if (!server_socket_unwanted()) {
        record_.server_socket.store(record_.make_server_socket());
        // An abort or a stop that came while the socket was made may have
        // missed it: both are published before they cut, so looking again
        // is enough.
        if (!server_socket_unwanted()) return;
        close_socket_slot(record_.server_socket);
    }
    WSASetLastError(0);  // none was wanted: no socket error to report
}

void UiLink::close_server_socket() {
    close_socket_slot(record_.server_socket);
}

void UiLink::close_client_socket() {
    // A reservation was posted without an answer: the browser must not see
    // the connection end before the main window has taken it.
    if (reserved_) {
        ask(MWM_CLOSE_CLIENT_SOCKET);
        return;
    }
    close_socket_slot(record_.client_socket);
}

void UiLink::mark_autoget() {
    ask(MWM_MARK_AUTOGET, 1);
}

std::optional<RequestTicket> UiLink::request_begun(std::shared_ptr<const ProxyRequest> request) {
    static std::atomic<RequestTicket> last_ticket{0};
    look_for_abort();
    auto begun = std::make_unique<RequestBegun>();
    begun->ticket = ++last_ticket;
    begun->request = std::move(request);
    begun->crawler_connection = record_.autoget_connection;
    const RequestTicket ticket = begun->ticket;
    if (!post_owned(main_window_, MWM_REQUEST_BEGUN, 0, std::move(begun))) return std::nullopt;
    return ticket;
}

void UiLink::request_ended(std::unique_ptr<RequestEnded> ended) {
    post_owned(main_window_, MWM_REQUEST_ENDED, 0, std::move(ended));
}

std::optional<std::string> UiLink::cookie_for(const ParsedUrl& url) {
    if (record_.cookies_for) {
        // The jar's answer, read under its lock: the UI thread has nothing to add.
        look_for_abort();
        return record_.cookies_for(url);
    }
    const std::optional<WPARAM> answer = ask(MWM_COOKIE_GET, reinterpret_cast<LPARAM>(&url));
    if (!answer || !*answer) return std::nullopt;
    return std::move(*adopt_wparam<std::string>(*answer));
}

void UiLink::store_cookie(std::string set_cookie, std::string host, bool over_https) {
    CookieSet set;
    set.set_cookie = std::move(set_cookie);
    set.host = std::move(host);
    set.over_https = over_https;
    ask_owned(MWM_COOKIE_SET, payload(std::move(set)));
}

void UiLink::note_authentication(std::string host, std::string challenge) {
    AuthNote note;
    note.host = std::move(host);
    note.challenge = std::move(challenge);
    ask_owned(MWM_AUTH_NOTE, payload(std::move(note)));
}

void UiLink::queue_forced_get(LineList request) {
    ForcedGet get;
    get.request = std::move(request);
    ask_owned(MWM_QUEUE_GETONLY, payload(std::move(get)));
}

void UiLink::reserve(std::unique_ptr<ProxyRequest> request) {
    reserved_ = true;
    post_owned(main_window_, MWM_RESERVE, 0, std::move(request));
}

void UiLink::connection_done() {
    PostMessageA(main_window_, MWM_CONNECTION_DONE, record_param(record_), 0);
}

HWND UiLink::open_debug_window() {
    return send_open_log(main_window_, true);
}

HWND send_open_log(HWND main_window, bool debug_window) {
    return reinterpret_cast<HWND>(SendMessageA(main_window, MWM_OPEN_LOG, 0, debug_window ? 1 : 0));
}

void send_progress(HWND window, UINT message, int percent, bool crawler) {
    SendMessageA(window, message, static_cast<WPARAM>(percent), crawler ? 1 : 0);
}

void send_log_text(HWND log_window, const std::string& text) {
    SendMessageA(log_window, LWM_SET_TEXT, reinterpret_cast<WPARAM>(text.c_str()), 0);
}

void send_log_title(HWND log_window, const std::string& title) {
    SendMessageA(log_window, LWM_SET_TITLE, reinterpret_cast<WPARAM>(title.c_str()), 0);
}

void send_log_progress(HWND log_window, int percent) {
    SendMessageA(log_window, LWM_SET_PROGRESS, static_cast<WPARAM>(percent), 0);
}

// ---------------------------------------------------------------- UI side

void AnsweredRequest::answer() const {
    post_answer(record, message);
}

AcceptedSocket AcceptedSocket::decode(WPARAM wparam, LPARAM) {
    return {static_cast<SOCKET>(wparam)};
}

ConnectionDone ConnectionDone::decode(WPARAM wparam, LPARAM) {
    return {record_of(wparam)};
}

SocketRequest SocketRequest::decode(UINT message, WPARAM wparam, LPARAM) {
    return asked<SocketRequest>(message, wparam);
}

MarkAutoget MarkAutoget::decode(WPARAM wparam, LPARAM lparam) {
    MarkAutoget mark = asked<MarkAutoget>(MWM_MARK_AUTOGET, wparam);
    mark.mark = lparam != 0;
    return mark;
}

RequestAdd RequestAdd::decode(WPARAM wparam, LPARAM lparam) {
    RequestAdd add = asked<RequestAdd>(MWM_REQUEST_ADD, wparam);
    add.request = reinterpret_cast<ProxyRequest*>(lparam);
    return add;
}

void RequestAdd::answer(RequestNode* node) const {
    post_answer(record, message, reinterpret_cast<WPARAM>(node));
}

ParkedMessage RequestAdd::parked() const {
    return {message, reinterpret_cast<WPARAM>(record), reinterpret_cast<LPARAM>(request)};
}

RequestDone RequestDone::decode(WPARAM wparam, LPARAM) {
    RequestDone done;
    done.message = MWM_REQUEST_DONE;
    done.block = reinterpret_cast<RequestDoneBlock*>(wparam);
    done.record = done.block ? done.block->record : nullptr;
    return done;
}

ParkedMessage RequestDone::parked() const {
    return {message, reinterpret_cast<WPARAM>(block), 0};
}

std::unique_ptr<RequestBegun> RequestBegun::adopt(LPARAM lparam) {
    return adopt_param<RequestBegun>(lparam);
}

std::unique_ptr<RequestEnded> RequestEnded::adopt(LPARAM lparam) {
    return adopt_param<RequestEnded>(lparam);
}

CookieGet CookieGet::decode(WPARAM wparam, LPARAM lparam) {
    CookieGet get = asked<CookieGet>(MWM_COOKIE_GET, wparam);
    get.url = reinterpret_cast<const ParsedUrl*>(lparam);
    return get;
}

void CookieGet::answer(std::optional<std::string> cookie) const {
    if (!cookie) {
        post_answer(record, message, 0);
        return;
    }
    // The thread adopts the text; when the answer can't be posted it is freed here.
    post_thread_owned(record->thread_id, message, std::make_unique<std::string>(std::move(*cookie)));
}

CookieSet CookieSet::decode(WPARAM wparam, LPARAM lparam) {
    return adopted<CookieSet>(MWM_COOKIE_SET, wparam, lparam);
}

AuthNote AuthNote::decode(WPARAM wparam, LPARAM lparam) {
    return adopted<AuthNote>(MWM_AUTH_NOTE, wparam, lparam);
}

ForcedGet ForcedGet::decode(WPARAM wparam, LPARAM lparam) {
    return adopted<ForcedGet>(MWM_QUEUE_GETONLY, wparam, lparam);
}

Reservation Reservation::decode(WPARAM, LPARAM lparam) {
    return {adopt_param<ProxyRequest>(lparam)};
}

OpenLog OpenLog::decode(WPARAM, LPARAM lparam) {
    return {lparam != 0};
}

LRESULT OpenLog::result(HWND log_window) {
    return reinterpret_cast<LRESULT>(log_window);
}

ProgressReport ProgressReport::decode(WPARAM wparam, LPARAM lparam) {
    return {static_cast<int>(wparam), lparam != 0};
}

void post_abort(ConnectionRecord& record) {
    record.abort_posted.store(true, std::memory_order_release);
    PostThreadMessageA(record.thread_id, CTM_ABORT, 0, 0);
}

const char* log_text_of(WPARAM wparam) {
    return wparam ? reinterpret_cast<const char*>(wparam) : "";
}

int log_progress_of(WPARAM wparam) {
    return static_cast<int>(wparam);
}

}  // namespace vellum
