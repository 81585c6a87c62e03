// The main window's answers to the connection threads: accepted sockets and
// ended connections, the request tree, cookies, credentials, the forced-get
// queue, reservations, progress and log windows. Payload ownership follows
// proxy/ui_requests.h; every request but MWM_RESERVE is answered by a thread
// message with the same number to the sender's thread.
#include <new>

#include "autoget/autoget_window.h"
#include "base/messages.h"
#include "base/prompt.h"
#include "cookies/cookies_win.h"
#include "proxy/connect_target.h"
#include "proxy/connection_io_win.h"
#include "shell/log_window.h"
#include "shell/main_window.h"
#include "shell/reservation_win.h"
#include "shell/settings.h"

namespace vellum {

std::unique_ptr<ConnectionRecord> MainWindow::make_record() const {
    std::unique_ptr<ConnectionRecord> record(new (std::nothrow) ConnectionRecord);
    if (!record) return nullptr;
    const Settings& s = settings();
    record->main_window = window();
    record->save_folder = s.localPath;
    record->internet = s.internet != 0;
    record->page_save = s.localize != 0;
    record->log_detail = s.log != 0;
    record->debug_windows = debug_windows_;
    record->debug_mode = debug_mode_;
    record->proxy = s.proxy;
    record->dialup = s.dialUp;
    record->tunnel_ports = parse_tunnel_ports(s.tunnelAllowedPorts);
    record->cookies_for = [](const ParsedUrl& url) { return cookie_jar_header_value(url); };
    return record;
}

void MainWindow::OnClientAccepted(const AcceptedSocket& accepted) {
    switch (connections_.accept(accepted.socket, connections_.closing() ? nullptr : make_record())) {
    case AcceptOutcome::started:
        connection_count_changed();
        break;
    case AcceptOutcome::thread_failed:
        show_warning(window(), "通信スレッドが作成出来ません！");
        PostMessageA(window(), WM_CLOSE, 0, 0);
        break;
    case AcceptOutcome::refused:
        break;
    }
}

void MainWindow::OnConnectionDone(const ConnectionDone& done) {
    if (!connections_.finish(done.record)) return;
    connection_count_changed();
    if (connections_.count() > 0) return;
    if (connections_.closing()) {
        PostMessageA(window(), WM_CLOSE, 0, 0);  // the close sequence resumes
        return;
    }
    connections_.replay_forced_get(listen_address_.address, listen_address_.port);
}

void MainWindow::park(ConnectionRecord* record, ParkedMessage message) {
    record->deferred_message = message;
    parked_.emplace_back(record);
}

void MainWindow::park(std::unique_ptr<RequestBegun> begun) {
    parked_.emplace_back(std::move(begun));
}

void MainWindow::park(std::unique_ptr<RequestEnded> ended) {
    parked_.emplace_back(std::move(ended));
}

void MainWindow::replay_parked() {
    // Each parked request is handled as if it arrived now, in the order they
    // came; a record's thread has been waiting for the answer all along.
    std::vector<ParkedWork> parked;
    parked.swap(parked_);
    for (ParkedWork& work : parked) {
        if (auto* record = std::get_if<ConnectionRecord*>(&work)) {
            (*record)->deferred_message.replay(window());
        } else if (auto* begun = std::get_if<std::unique_ptr<RequestBegun>>(&work)) {
            OnRequestBegun(std::move(*begun));
        } else {
            OnRequestEnded(std::move(std::get<std::unique_ptr<RequestEnded>>(work)));
        }
    }
}

bool MainWindow::request_shown(bool crawler_connection) const {
    return request_tree_ && !IsIconic(window()) && (!crawler_connection || settings().recTreePut);
}

void MainWindow::OnRequestAdd(const RequestAdd& request) {
    if (!request.request || !request_shown(request.record->autoget_connection)) {
        request.answer(nullptr);
        return;
    }
    if (deferring_) {
        park(request.record, request.parked());
        return;
    }
    // From a non-zero answer on, the node owns the request; the thread goes
    // on reading it until it reports the end.
    freeze_request_tree();
    RequestNode* node = request_tree_->add(std::unique_ptr<ProxyRequest>(request.request));
    request.answer(node);
}

void MainWindow::OnRequestDone(const RequestDone& request) {
    if (!request.block || !request.record) return;
    RequestDoneBlock& block = *request.block;
    if (block.node && request_tree_) {
        if (deferring_) {
            park(request.record, request.parked());
            return;
        }
        finish_in_tree(block.node, std::move(block.result));
    }
    request.answer();
}

// The program's own connections report to the tree without waiting for it:
// the same decisions as 1070 and 1071, with the node kept here by ticket.
void MainWindow::OnRequestBegun(std::unique_ptr<RequestBegun> begun) {
    if (!begun || !begun->request || !request_shown(begun->crawler_connection)) return;
    if (deferring_) {
        park(std::move(begun));
        return;
    }
    freeze_request_tree();
    if (RequestNode* node = request_tree_->add(std::move(begun->request))) open_requests_[begun->ticket] = node;
}

void MainWindow::OnRequestEnded(std::unique_ptr<RequestEnded> ended) {
    if (!ended) return;
    if (deferring_) {
        // Its beginning may be parked too.
        park(std::move(ended));
        return;
    }
    const auto open = open_requests_.find(ended->ticket);
    if (open == open_requests_.end()) return;  // not shown
    RequestNode* node = open->second;
    open_requests_.erase(open);
    finish_in_tree(node, std::move(ended->result));
}

void MainWindow::finish_in_tree(RequestNode* node, RequestResult result) {
    freeze_request_tree();
    request_tree_->finish(node, result.content_class, result.status != ConnectionStatus::ok ? 1 : 0,
                          result.response_code, std::move(result.log));
}

void MainWindow::OnCookieGet(const CookieGet& request) {
    request.answer(request.url ? cookie_jar_header_value(*request.url) : std::nullopt);
}

void MainWindow::OnCookieSet(const CookieSet& request) {
    cookie_jar_store(request.set_cookie, request.host, request.over_https);
    request.answer();
}

void MainWindow::OnAuthNote(const AuthNote& request) {
    credentials_put(request.host, request.challenge, std::nullopt, std::nullopt);
    request.answer();
}

void MainWindow::OnQueueGetOnly(ForcedGet request) {
    if (!request.request.empty()) connections_.queue_forced_get(std::move(request.request));
    request.answer();
}

void MainWindow::OnReserve(const Reservation& reservation) {
    if (reservation.request) reserve_for_autoget(*reservation.request);
}

void MainWindow::OnProgress(const ProgressReport& report) {
    if (report.crawler) {
        if (HWND autoget = autoget_window()) send_progress(autoget, AGM_PROGRESS, report.percent, true);
        if (!settings().recTreePut) return;
        progress_bar_changing();
        if (progress_bar_) SendMessageA(progress_bar_, PBM_SETPOS, report.percent, 0);
        return;
    }
    // Withdrawn first: a connection must never skip a report on a stale value.
    progress_bar_changing();
    if (progress_bar_) SendMessageA(progress_bar_, PBM_SETPOS, report.percent, 0);
    progress_bar_shows(window(), report.percent);
}

LRESULT MainWindow::OnOpenLog(const OpenLog& request) {
    return OpenLog::result(open_log_window(window(), request.debug_window, this));
}

}  // namespace vellum
