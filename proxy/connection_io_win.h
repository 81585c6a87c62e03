// The blocking primitives a connection thread runs on, and its ways of
// talking to the rest of the program: the connection log (mirrored into a
// debug window), progress reports, requests to the UI thread with their
// thread-message replies, and the abort check.
//
// Connection-thread side only. Sockets and file handles are borrowed: the
// caller keeps ownership (the UI thread creates and closes every socket).
// INVALID_SOCKET / INVALID_HANDLE_VALUE stand for "none".
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "http/byte_source.h"
#include "http/line_list.h"
#include "proxy/connection_status.h"

namespace vellum {

// The log of one connection. Detail lines are kept only when `detail` (the
// log-detail setting when the connection was accepted) is set; error lines
// always. Progress reports go to `main_window` and to the debug window.
struct ConnectionLog {
    bool detail = false;
    LineList lines;
    HWND debug_window = nullptr;
    HWND main_window = nullptr;
    int debug_progress = -1;  // the percent last sent to the debug window
};

// Appends `text` when `flag` is set and shows the whole log in the debug window.
void log_text(ConnectionLog& log, bool flag, std::string_view text);
void log_lines(ConnectionLog& log, bool flag, const LineList& lines);
inline void log_detail(ConnectionLog& log, std::string_view text) { log_text(log, log.detail, text); }
inline void log_error(ConnectionLog& log, std::string_view text) { log_text(log, true, text); }

// A blocking socket as a ByteSource; it peeks with MSG_PEEK.
class SocketSource : public ByteSource {
public:
    explicit SocketSource(SOCKET socket) : socket_(socket) {}
    // `seen`: what a peek at `socket` has just shown, with nothing received
    // since. The first peek returns it instead of asking the socket again:
    // the same bytes are still the stream's next ones, and whatever arrived
    // meanwhile is seen by the peek after.
    SocketSource(SOCKET socket, std::string_view seen) : socket_(socket), seen_(seen) {}
    int receive(char* buffer, int size) override;
    int wait_readable(int seconds) override;
    bool can_peek() const override { return true; }
    int peek(char* buffer, int size) override;

private:
    SOCKET socket_;
    std::string_view seen_;
};

// 1 readable, 0 time-out, -1 select failed; negative seconds wait without limit.
int wait_readable(SOCKET socket, int seconds);
// Every later receive on `socket` (peeks included) fails with WSAETIMEDOUT
// once `seconds` pass without a byte; the socket stays usable. Costs nothing
// per receive, unlike a select before each.
bool limit_receive_silence(SOCKET socket, int seconds);
// Peeks up to `window` bytes (at least `length`) into `peeked` without
// consuming them. While fewer than `length` bytes are seen and they are a
// proper prefix of `expected`, waits briefly for the rest, so a marker split
// over two segments is still recognised. Returns recv's count (0 peer closed,
// SOCKET_ERROR failure); the first `length` bytes decide whether `expected`
// came, the whole peek may go on to a SocketSource.
int peek_prefix(SOCKET socket, const char* expected, int length, char* peeked, int window);
// Whether the peek_prefix count and bytes start with all of `expected`.
bool starts_with_prefix(int count, const char* peeked, const char* expected, int length);

// True when one send accepted every byte (no retry).
bool send_text(SOCKET socket, std::string_view text);
bool send_lines(SOCKET socket, const LineList& lines);

// Logs and sends a header to the browser: ok when sent (or there is no client
// socket), socket_failed when not.
ConnectionStatus send_header_to_client(SOCKET client, const LineList& header, ConnectionLog& log);

// One source (server stream or file) to up to two sinks (file, client socket).
struct RelayEnds {
    ByteSource* source_stream = nullptr;  // the server, over a plain socket or TLS
    SOCKET client_socket = INVALID_SOCKET;
    HANDLE source_file = INVALID_HANDLE_VALUE;
    HANDLE destination_file = INVALID_HANDLE_VALUE;
};

// Relays `limit` bytes or (-1) until the source ends, reporting progress as
// it goes (crawler requests with `autoget`): a percent that changed, at most
// once a pace per relay; a browser relay's reports to the main window also
// wait until the relay has lasted a pace and share one pace among all
// connections (base/screen_pace.h), since nobody sees the bar move faster. A
// source that ends early ends the relay normally; `relayed` tells how much came.
// ok, socket_failed (server or client socket), read_failed (the source file)
// or write_failed (the destination file; the client still got everything).
ConnectionStatus relay_body(const RelayEnds& ends, long long limit, ConnectionLog& log, bool autoget, long long* relayed = nullptr);

// MWM_PROGRESS to the main window and LWM_SET_PROGRESS to the debug window,
// each skipped when its bar already shows `percent` (see below): a relay of a
// large body repeats every percent for many chunks, and each send is a
// round trip to the UI thread.
void report_progress(ConnectionLog& log, int percent, bool autoget);

// The main window's progress bar, as the connection threads may take it to
// be. UI thread only: progress_bar_changing() before anything changes the
// bar, progress_bar_shows() after a browser request's MWM_PROGRESS has set
// it. While the bar shows a percent published this way, an identical report
// would change nothing anyone can see, so report_progress leaves it out;
// crawler reports (they also drive the auto-get window) are always sent.
void progress_bar_changing();
void progress_bar_shows(HWND main_window, int percent);

// Writes every line, in order, with no separators; false at the first failed write.
bool write_lines(HANDLE file, const LineList& lines);

// Creates the calling thread's message queue, so that no reply and no abort
// posted to it can be lost. A connection thread calls it first thing.
void ensure_thread_queue();

// Posts `message` to `main_window` and waits in the thread's own queue for
// the thread message of the same number: its wParam is the reply. A CTM_ABORT
// seen meanwhile (or pending before the post) sets `abort_flag` and the wait
// goes on; any other message is discarded. None when the post or the wait fails.
std::optional<WPARAM> ask_ui(HWND main_window, UINT message, WPARAM wparam, LPARAM lparam, bool& abort_flag);

// The waiting half of ask_ui, for callers that post themselves (to pass
// ownership of the payload with the post).
std::optional<WPARAM> wait_for_reply(UINT message, bool& abort_flag);

// Empties the thread's queue; true if a CTM_ABORT was among the messages.
bool abort_pending();

}  // namespace vellum
