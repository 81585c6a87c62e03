// The main window's answers to the connection threads: accepted sockets and
// ended connections, the request tree, cookies, credentials, the forced-get
// queue, reservations, progress and log windows. Payload ownership follows
// proxy/ui_requests.h; every request but MWM_RESERVE is answered by a thread
// message with the same number to the sender's thread.
#include <new>

#include "autoget/autoget_window.h"
#include "base/messages.h"
#include "base/prompt.h"
#include "base/thread_message.h"
#include "proxy/connection_io_win.h"
#include "shell/log_window.h"
#include "shell/main_window.h"
#include "shell/reservation_win.h"
#include "shell/settings.h"

namespace vellum {
namespace {

void reply(const ConnectionRecord* record, UINT message, WPARAM value = 0) {
    PostThreadMessageA(record->thread_id, message, value, 0);
}

}  // namespace

std::unique_ptr<ConnectionRecord> MainWindow::make_record() const {
    std::unique_ptr<ConnectionRecord> record(new (std::nothrow) ConnectionRecord);
    if (!record) return nullptr;
    const Settings& s = settings();
    record->main_window = window_;
    record->save_folder = s.localPath;
    record->internet = s.internet != 0;
    record->page_save = s.localize != 0;
    record->log_detail = s.log != 0;
    record->debug_windows = debug_windows_;
    record->debug_mode = debug_mode_;
    record->proxy = s.proxy;
    record->dialup = s.dialUp;
    return record;
}

void MainWindow::OnClientAccepted(SOCKET socket) {
    const int before = connections_.count();
    switch (connections_.accept(socket, connections_.closing() ? nullptr : make_record())) {
    case AcceptOutcome::started:
        if (before == 0) refresh_mode_display();
        show_connection_count();
        break;
    case AcceptOutcome::thread_failed:
        show_warning(window_, "通信スレッドが作成出来ません！");
        PostMessageA(window_, WM_CLOSE, 0, 0);
        break;
    case AcceptOutcome::refused:
        break;
    }
}

void MainWindow::OnConnectionDone(ConnectionRecord* record) {
    if (!connections_.finish(record)) return;
    show_connection_count();
    if (connections_.count() > 0) return;
    refresh_mode_display();
    if (connections_.closing()) {
        PostMessageA(window_, WM_CLOSE, 0, 0);  // the close sequence resumes
        return;
    }
    connections_.replay_forced_get(listen_address_.address, listen_address_.port);
}

void MainWindow::park(ConnectionRecord* record, UINT message, WPARAM wparam, LPARAM lparam) {
    record->deferred_message = message;
    record->deferred_wparam = wparam;
    record->deferred_lparam = lparam;
    parked_.push_back(record);
}

void MainWindow::replay_parked() {
    // Each parked request is handled as if it arrived now; its thread has
    // been waiting for the answer all along.
    std::vector<ConnectionRecord*> parked;
    parked.swap(parked_);
    for (ConnectionRecord* record : parked) {
        const UINT message = record->deferred_message;
        const WPARAM wparam = record->deferred_wparam;
        const LPARAM lparam = record->deferred_lparam;
        record->deferred_message = 0;
        record->deferred_wparam = 0;
        record->deferred_lparam = 0;
        if (message) SendMessageA(window_, message, wparam, lparam);
    }
}

void MainWindow::OnRequestAdd(ConnectionRecord* record, LPARAM request) {
    const bool shown = request_tree_ && !IsIconic(window_) &&
                       (!record->autoget_connection || settings().recTreePut);
    if (!shown || !request) {
        reply(record, MWM_REQUEST_ADD, 0);
        return;
    }
    if (deferring_) {
        park(record, MWM_REQUEST_ADD, reinterpret_cast<WPARAM>(record), request);
        return;
    }
    // From a non-zero answer on, the node owns the request; the thread goes
    // on reading it until it reports the end.
    RequestNode* node = request_tree_->add(std::unique_ptr<ProxyRequest>(reinterpret_cast<ProxyRequest*>(request)));
    reply(record, MWM_REQUEST_ADD, reinterpret_cast<WPARAM>(node));
}

void MainWindow::OnRequestDone(RequestDoneBlock* block) {
    if (!block || !block->record) return;
    if (block->node && request_tree_) {
        if (deferring_) {
            park(block->record, MWM_REQUEST_DONE, reinterpret_cast<WPARAM>(block), 0);
            return;
        }
        request_tree_->finish(block->node, block->content_class, block->status != ConnectionStatus::ok ? 1 : 0, block->response_code,
                              std::move(block->log));
    }
    reply(block->record, MWM_REQUEST_DONE);
}

void MainWindow::OnCookieGet(ConnectionRecord* record) {
    // No cookie jar: no Cookie line for any request.
    reply(record, MWM_COOKIE_GET, 0);
}

void MainWindow::OnCookieSet(ConnectionRecord* record, LPARAM cookie) {
    std::unique_ptr<LineList> owned = adopt_param<LineList>(cookie);
    reply(record, MWM_COOKIE_SET);
}

void MainWindow::OnAuthNote(ConnectionRecord* record, LPARAM note) {
    std::unique_ptr<AuthNote> owned = adopt_param<AuthNote>(note);
    reply(record, MWM_AUTH_NOTE);
}

void MainWindow::OnQueueGetOnly(ConnectionRecord* record, LPARAM request) {
    std::unique_ptr<LineList> owned = adopt_param<LineList>(request);
    if (owned && !owned->empty()) connections_.queue_forced_get(std::move(*owned));
    reply(record, MWM_QUEUE_GETONLY);
}

void MainWindow::OnReserve(LPARAM request) {
    std::unique_ptr<ProxyRequest> owned = adopt_param<ProxyRequest>(request);
    if (owned) reserve_for_autoget(*owned);
}

void MainWindow::OnProgress(WPARAM percent, LPARAM crawler) {
    if (crawler) {
        if (HWND autoget = autoget_window()) SendMessageA(autoget, AGM_PROGRESS, percent, crawler);
        if (!settings().recTreePut) return;
        progress_bar_changing();
        if (progress_bar_) SendMessageA(progress_bar_, PBM_SETPOS, percent, 0);
        return;
    }
    // Withdrawn first: a connection must never skip a report on a stale value.
    progress_bar_changing();
    if (progress_bar_) SendMessageA(progress_bar_, PBM_SETPOS, percent, 0);
    progress_bar_shows(window_, static_cast<int>(percent));
}

LRESULT MainWindow::OnOpenLog(LPARAM debug) {
    return reinterpret_cast<LRESULT>(open_log_window(window_, debug != 0));
}

}  // namespace vellum
