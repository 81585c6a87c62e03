// Stands in for the main window in tests of the connection handler: answers
// the connection thread's requests as the UI thread does (sockets, the
// request tree, cookies, the forced-get queue) and records what it was told.
// Runs on the test thread; run() pumps messages until the connection is done.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/messages.h"
#include "base/thread_message.h"
#include "proxy/connection_handler_win.h"
#include "proxy/connection_record.h"
#include "http/http_message.h"
#include "proxy/ui_requests.h"

namespace vellum::testing {

class FakeMainWindow {
public:
    FakeMainWindow() {
        WNDCLASSA wc{};
        wc.lpfnWndProc = &FakeMainWindow::procedure;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "VellumTestMainWindow";
        RegisterClassA(&wc);
        window_ = CreateWindowA(wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, this);
    }
    ~FakeMainWindow() { DestroyWindow(window_); }

    HWND get() const { return window_; }

    // What the fake answers.
    bool show_in_tree = true;        // MWM_REQUEST_ADD gets a node
    bool refuse_server_socket = false;
    std::string cookie;              // MWM_COOKIE_GET's answer when not empty
    // Called on every progress report, e.g. to close sockets mid-transfer.
    std::function<void(ConnectionRecord&, int percent)> on_progress;

    // What the connection told it.
    struct Result {
        int status = -1;
        bool done = false;
        bool marked_autoget = false;
        bool added = false;
        std::unique_ptr<ProxyRequest> tree_request;  // the request the tree took
        LineList log;
        int content_class = -1;
        int response_code = -2;
        int done_status = -1;
        std::vector<LineList> cookies_set;
        std::vector<AuthNote> auth_notes;
        std::vector<LineList> forced_gets;
        std::unique_ptr<ProxyRequest> reserved;
        int open_server_requests = 0;
    } result;

    // Runs one connection for `client` (the proxy's end of a socket pair) on a
    // real thread, answering its requests until it has ended.
    int run(ConnectionRecord& record) {
        record.main_window = window_;
        record_ = &record;
        result = Result{};
        std::thread thread([&] {
            record.thread_id = GetCurrentThreadId();
            result.status = status_word(run_connection(record));
        });
        while (!result.done) {
            MSG msg;
            if (GetMessageA(&msg, nullptr, 0, 0) <= 0) break;
            DispatchMessageA(&msg);
        }
        thread.join();
        return result.status;
    }

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
        if (message == WM_NCCREATE) {
            SetWindowLongPtrA(window, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lparam)->lpCreateParams));
        }
        auto* self = reinterpret_cast<FakeMainWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self && self->record_) {
            if (auto handled = self->handle(message, wparam, lparam)) return *handled;
        }
        return DefWindowProcA(window, message, wparam, lparam);
    }

    void reply(UINT message, WPARAM value = 0) { PostThreadMessageA(record_->thread_id, message, value, 0); }

    std::optional<LRESULT> handle(UINT message, WPARAM wparam, LPARAM lparam) {
        ConnectionRecord& record = *record_;
        switch (message) {
        case MWM_OPEN_SERVER_SOCKET:
            ++result.open_server_requests;
            record.server_socket = refuse_server_socket ? INVALID_SOCKET : socket(AF_INET, SOCK_STREAM, 0);
            reply(message);
            return 0;
        case MWM_CLOSE_SERVER_SOCKET:
            if (record.server_socket != INVALID_SOCKET) closesocket(record.server_socket.exchange(INVALID_SOCKET));
            reply(message);
            return 0;
        case MWM_CLOSE_CLIENT_SOCKET:
            if (record.client_socket != INVALID_SOCKET) closesocket(record.client_socket.exchange(INVALID_SOCKET));
            reply(message);
            return 0;
        case MWM_MARK_AUTOGET:
            result.marked_autoget = lparam == 1;
            reply(message);
            return 0;
        case MWM_REQUEST_ADD:
            result.added = true;
            if (show_in_tree) {
                result.tree_request.reset(reinterpret_cast<ProxyRequest*>(lparam));
                reply(message, reinterpret_cast<WPARAM>(&node_));
            } else {
                reply(message, 0);
            }
            return 0;
        case MWM_REQUEST_DONE: {
            auto* done = reinterpret_cast<RequestDoneBlock*>(wparam);
            result.log = std::move(done->log);
            result.content_class = done->content_class;
            result.response_code = done->response_code;
            result.done_status = status_word(done->status);
            reply(message);
            return 0;
        }
        case MWM_COOKIE_GET:
            reply(message, cookie.empty() ? 0 : reinterpret_cast<WPARAM>(new std::string(cookie)));
            return 0;
        case MWM_COOKIE_SET:
            result.cookies_set.push_back(*adopt_param<LineList>(lparam));
            reply(message);
            return 0;
        case MWM_AUTH_NOTE:
            result.auth_notes.push_back(*adopt_param<AuthNote>(lparam));
            reply(message);
            return 0;
        case MWM_QUEUE_GETONLY:
            result.forced_gets.push_back(*adopt_param<LineList>(lparam));
            reply(message);
            return 0;
        case MWM_RESERVE:
            result.reserved = adopt_param<ProxyRequest>(lparam);
            return 0;
        case MWM_PROGRESS:
            if (on_progress) on_progress(record, static_cast<int>(wparam));
            return 0;
        case MWM_CONNECTION_DONE:
            result.done = true;
            return 0;
        }
        return std::nullopt;
    }

    HWND window_;
    ConnectionRecord* record_ = nullptr;
    int node_ = 0;  // stands for the tree node the connection gets back
};

}  // namespace vellum::testing
