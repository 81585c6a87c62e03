// The crawler thread: one per auto-get run. It asks the auto-get window for
// the next node (AGM_NEXT, or AGM_RETRY after a failure worth retrying),
// fetches it by sending a marked GET to the program's own proxy port and
// waiting for the proxy engine's report (CRM_FETCH_*), extracts the links of
// an HTML page from its recorded copy under the store lock (kept for the
// run in its LinkCache, autoget/link_cache.h, while the copy stays), and
// reports the result with the links (AGM_RESULT). It never touches the page tree or a
// window: everything it knows of a node is the CrawlerOrder the window copies
// into its buffer, and everything it tells goes by posted message, each
// answered by a thread message of the same number (base/messages.h).
//
// Started by the auto-get window on the UI thread; the thread posts AGM_END
// as its last act, after which the window waits for it and closes its handle.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <optional>

#include "base/win_handles.h"

namespace vellum {

// Flags the window raises for the thread during a run. The window (UI
// thread) writes them; the crawler thread reads them. Owned by the window,
// which keeps them until the thread has ended.
struct CrawlerSignals {
    // The user's immediate stop closed the crawler's server sockets: a
    // connection failure reported from now on is the stop's cut (code 100),
    // not a failure worth retrying.
    std::atomic<bool> transfers_cut{false};
    // The program is closing: the stop request also ends a wait for the
    // proxy engine's report, which may never come once the proxy stopped
    // taking connections.
    std::atomic<bool> program_closing{false};
};

struct CrawlerStart {
    HWND window = nullptr;                 // the auto-get window, where the thread posts
    std::uint32_t proxy_address = 0;       // the program's own proxy, host byte order
    std::uint16_t proxy_port = 0;
    CrawlerSignals* signals = nullptr;     // the window's; outlives the thread
};

struct CrawlerThread {
    KernelHandle handle;
    DWORD id = 0;
};

// Starts the thread; none when it could not be created.
std::optional<CrawlerThread> start_crawler_thread(const CrawlerStart& start);

}  // namespace vellum
