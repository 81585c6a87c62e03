// Payloads of the requests that connection threads post to the main window,
// and who owns them. The thread waits for every reply except MWM_RESERVE's,
// so what it lends stays valid until the reply arrives.
//
//   MWM_REQUEST_ADD   lParam ProxyRequest*, lent; when the reply names a
//                     RequestNode the tree keeps the request from then on
//                     (the thread goes on reading it until MWM_REQUEST_DONE).
//   MWM_REQUEST_DONE  wParam RequestDoneBlock*, lent; the tree takes the log
//                     when it finishes the node.
//   MWM_COOKIE_GET    lParam ParsedUrl*, lent; reply wParam std::string*
//                     (the Cookie value) owned by the thread, or 0.
//   MWM_COOKIE_SET    lParam LineList* {Set-Cookie value, host}, owned by the receiver.
//   MWM_AUTH_NOTE     lParam AuthNote*, owned by the receiver.
//   MWM_QUEUE_GETONLY lParam LineList* (a whole request), owned by the receiver.
//   MWM_RESERVE       lParam ProxyRequest*, owned by the receiver; no reply.
// A receiver adopts owned payloads on its first line (base/thread_message.h).
#pragma once

#include <string>

#include "http/line_list.h"
#include "proxy/connection_status.h"

namespace vellum {

struct ConnectionRecord;
struct RequestNode;

struct RequestDoneBlock {
    ConnectionRecord* record = nullptr;
    RequestNode* node = nullptr;  // the MWM_REQUEST_ADD reply
    LineList log;
    int content_class = 0;  // proxy/content_kind.h
    int response_code = -1;
    ConnectionStatus status = ConnectionStatus::ok;  // anything else is an abnormal end
};

struct AuthNote {
    std::string host;       // the request's Host value
    std::string challenge;  // the server's WWW-Authenticate value
};

}  // namespace vellum
