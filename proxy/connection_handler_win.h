// The work of one connection thread over its one HTTP/1.0 request: the
// reservation marker of the browser component, parsing, the proxy's own
// request lines (honoured only on the program's own connections), the request
// tree, the recorded page, then either the answer
// from the local store (offline) or forwarding to the server or upstream
// proxy and recording; and the common end that closes, reports and frees.
//
// Runs on the connection thread. The record belongs to the UI thread; the
// handler reads its snapshot, asks the UI thread for every shared operation
// and, as its very last act, posts MWM_CONNECTION_DONE, after which the record
// may be gone.
#pragma once

#include "proxy/connection_status.h"

namespace vellum {

struct ConnectionRecord;

// The host of the partner service whose 200 answers carrying the
// "X_kestrelonline_page" header are authentication pages, never recorded.
inline constexpr char kPartnerHost[] = "www.kestrelonline.jp";

// Serves the connection of `record` from start to end; returns its status.
ConnectionStatus run_connection(ConnectionRecord& record);

}  // namespace vellum
