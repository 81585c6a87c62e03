// Every custom message number of the program, in one place. The numbers are
// fixed: other threads, other windows and the tests rely on them.
//
// Window messages go to the main window (MWM_), the auto-get window (AGM_)
// or a log window (LWM_); thread messages go to a connection thread (CTM_) or
// the crawler thread (CRM_). A request from a worker thread is answered by a
// thread message with the same number. The prefix names the receiver, so a
// number may stand under two names where two receivers share it.
#pragma once

#include <windows.h>

namespace vellum {

// Main window: the shell, the connection threads and the save-folder chooser.
inline constexpr UINT MWM_TRAY = 1025;           // lParam: mouse message of the tray icon
inline constexpr UINT MWM_OPEN_LOG = 1026;       // lParam 1 debug window, 0 plain log; returns the HWND
inline constexpr UINT MWM_PROGRESS = 1027;       // wParam percent, lParam 1 for crawler requests
inline constexpr UINT MWM_REOPEN_FOLDER = 1028;  // re-open the save-folder chooser

// Main window: connection bookkeeping (wParam = the ConnectionRecord except 1064).
inline constexpr UINT MWM_CLIENT_ACCEPTED = 1064;  // wParam: the accepted socket
inline constexpr UINT MWM_CONNECTION_DONE = 1065;
inline constexpr UINT MWM_OPEN_SERVER_SOCKET = 1066;
inline constexpr UINT MWM_CLOSE_SERVER_SOCKET = 1067;
inline constexpr UINT MWM_CLOSE_CLIENT_SOCKET = 1068;
inline constexpr UINT MWM_MARK_AUTOGET = 1069;  // lParam 1

// Main window: shared state for the connection threads.
inline constexpr UINT MWM_REQUEST_ADD = 1070;    // lParam ProxyRequest*; reply: RequestNode* or 0
inline constexpr UINT MWM_REQUEST_DONE = 1071;   // wParam RequestDoneBlock*
inline constexpr UINT MWM_COOKIE_GET = 1072;     // lParam ParsedUrl*; reply: new cookie text or 0
inline constexpr UINT MWM_COOKIE_SET = 1073;     // lParam LineList* {Set-Cookie value, host}
inline constexpr UINT MWM_AUTH_NOTE = 1074;      // lParam {host, WWW-Authenticate value}
inline constexpr UINT MWM_QUEUE_GETONLY = 1075;  // lParam LineList* (owned by the receiver)
inline constexpr UINT MWM_RESERVE = 1077;        // lParam ProxyRequest* (owned by the receiver); no reply

// Main window: the request tree as the program's own connection threads reach
// it, posted without a reply so that no request waits for the tree. They do
// the work of 1070 and 1071 (which stay for any other sender): a ticket pairs
// a request's end with its beginning.
inline constexpr UINT MWM_REQUEST_BEGUN = WM_APP + 70;  // lParam RequestBegun* (owned by the receiver)
inline constexpr UINT MWM_REQUEST_ENDED = WM_APP + 71;  // lParam RequestEnded* (owned by the receiver)

// Connection thread.
inline constexpr UINT CTM_ABORT = 1076;

// Auto-get window: the main window passes crawler progress on (1027, the
// number of MWM_PROGRESS, which it forwards), and the crawler thread asks
// (1044-1052) and waits for the thread message of the same number.
inline constexpr UINT AGM_PROGRESS = 1027;  // wParam percent, lParam 1
inline constexpr UINT AGM_END = 1044;       // wParam 1 when stopped, lParam end text or 0
inline constexpr UINT AGM_AUTH = 1045;      // wParam host text, lParam challenge text
inline constexpr UINT AGM_NEXT = 1050;      // lParam the thread's job buffer
inline constexpr UINT AGM_RESULT = 1051;    // wParam fetch result, lParam first LinkEntry or 0
inline constexpr UINT AGM_RETRY = 1052;     // lParam the thread's job buffer

// Crawler thread: the auto-get window's answers (numbers of the requests
// they answer), the stop request, and the proxy engine's reports on the
// crawler's fetches. Their numbers lie among the auto-get window's, so they
// carry names of their own.
inline constexpr UINT CRM_AUTH = AGM_AUTH;      // wParam new Basic token text or 0
inline constexpr UINT CRM_FETCH_DONE = 1046;    // wParam response code
inline constexpr UINT CRM_FETCH_FAILED = 1047;  // wParam status, lParam constant text or 0
inline constexpr UINT CRM_STOP = 1048;
inline constexpr UINT CRM_FETCH_AUTH = 1049;    // wParam new WWW-Authenticate text
inline constexpr UINT CRM_NEXT = AGM_NEXT;      // wParam the node or 0 (the job buffer is filled)
inline constexpr UINT CRM_RESULT = AGM_RESULT;
inline constexpr UINT CRM_RETRY = AGM_RETRY;    // wParam the node or 0 to end

// Log windows.
inline constexpr UINT LWM_SET_TEXT = 1084;
inline constexpr UINT LWM_SET_TITLE = 1085;
inline constexpr UINT LWM_SET_PROGRESS = 1086;

}  // namespace vellum
