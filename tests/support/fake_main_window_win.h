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
#include "proxy/connection_handler_win.h"
#include "proxy/connection_record.h"
#include "http/http_message.h"
#include "proxy/ui_requests.h"
#include "shell/request_tree.h"

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
    bool refuse_server_socket = false;
    std::string cookie;              // MWM_COOKIE_GET's answer when not empty
    // Called on every progress report, e.g. to close sockets mid-transfer.
    std::function<void(ConnectionRecord&, int percent)> on_progress;
    // Called on the connection thread as it makes its server socket.
    std::function<void()> on_server_socket;

    // What the connection told it.
    struct Result {
        int status = -1;
        bool done = false;
        bool marked_autoget = false;
        bool added = false;
        std::shared_ptr<const ProxyRequest> tree_request;  // the request the tree was given
        bool added_as_crawler = false;
        bool ended = false;
        RequestTicket ended_ticket = 0;  // must be the one MWM_REQUEST_BEGUN carried
        RequestTicket begun_ticket = 0;
        LineList log;
        int content_class = -1;
        int response_code = -2;
        int done_status = -1;
        std::vector<LineList> cookies_set;
        std::vector<AuthNote> auth_notes;
        std::vector<LineList> forced_gets;
        std::unique_ptr<ProxyRequest> reserved;
        int server_sockets_made = 0;  // counted on the connection thread, read after it ends
    } result;

    // Runs one connection for `client` (the proxy's end of a socket pair) on a
    // real thread, answering its requests until it has ended.
    int run(ConnectionRecord& record) {
        record.main_window = window_;
        record_ = &record;
        result = Result{};
        record.make_server_socket = [this] {
            ++result.server_sockets_made;
            if (on_server_socket) on_server_socket();
            return refuse_server_socket ? INVALID_SOCKET : socket(AF_INET, SOCK_STREAM, 0);
        };
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

    // Decodes and answers every request as the main window does, through
    // the same typed requests.
    std::optional<LRESULT> handle(UINT message, WPARAM wparam, LPARAM lparam) {
        ConnectionRecord& record = *record_;
        switch (message) {
        case MWM_CLOSE_CLIENT_SOCKET:  // a reservation's; the thread closes every other socket itself
            close_socket_slot(record.client_socket);
            SocketRequest::decode(message, wparam, lparam).answer();
            return 0;
        case MWM_MARK_AUTOGET: {
            const MarkAutoget mark = MarkAutoget::decode(wparam, lparam);
            result.marked_autoget = mark.mark;
            record.autoget_connection = mark.mark;
            mark.answer();
            return 0;
        }
        case MWM_REQUEST_BEGUN: {
            std::unique_ptr<RequestBegun> begun = RequestBegun::adopt(lparam);
            result.added = true;
            result.begun_ticket = begun->ticket;
            result.added_as_crawler = begun->crawler_connection;
            result.tree_request = std::move(begun->request);
            return 0;
        }
        case MWM_REQUEST_ENDED: {
            std::unique_ptr<RequestEnded> ended = RequestEnded::adopt(lparam);
            result.ended = true;
            result.ended_ticket = ended->ticket;
            result.log = std::move(ended->result.log);
            result.content_class = ended->result.content_class;
            result.response_code = ended->result.response_code;
            result.done_status = status_word(ended->result.status);
            return 0;
        }
        case MWM_COOKIE_GET:
            CookieGet::decode(wparam, lparam).answer(cookie.empty() ? std::nullopt : std::optional(cookie));
            return 0;
        case MWM_COOKIE_SET: {
            const CookieSet set = CookieSet::decode(wparam, lparam);
            result.cookies_set.push_back(LineList{set.set_cookie, set.host});
            set.answer();
            return 0;
        }
        case MWM_AUTH_NOTE: {
            const AuthNote note = AuthNote::decode(wparam, lparam);
            result.auth_notes.push_back(note);
            note.answer();
            return 0;
        }
        case MWM_QUEUE_GETONLY: {
            ForcedGet get = ForcedGet::decode(wparam, lparam);
            result.forced_gets.push_back(std::move(get.request));
            get.answer();
            return 0;
        }
        case MWM_RESERVE:
            result.reserved = std::move(Reservation::decode(wparam, lparam).request);
            return 0;
        case MWM_PROGRESS:
            if (on_progress) on_progress(record, ProgressReport::decode(wparam, lparam).percent);
            return 0;
        case MWM_CONNECTION_DONE:
            result.done = true;
            return 0;
        }
        return std::nullopt;
    }

    HWND window_;
    ConnectionRecord* record_ = nullptr;
};

}  // namespace vellum::testing
