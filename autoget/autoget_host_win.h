// What the auto-get window needs of the rest of the program, which it can't
// reach itself (the shell lies above it): the main window hands it one of
// these when it makes the window, and tests hand it their own.
//
// UI thread only. The host outlives the window.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>

namespace vellum {

class ConnectionRegistry;

// Where the program's own proxy listens, host byte order.
struct ProxyEndpoint {
    std::uint32_t address = 0;
    std::uint16_t port = 0;
};

class AutoGetHost {
public:
    virtual ~AutoGetHost() = default;

    // The main window, which a run that ends during the close sequence
    // asks to close again; nullptr when there is none.
    virtual HWND main_window() const = 0;
    // The close sequence has begun.
    virtual bool program_closing() const = 0;
    // The インターネット接続 mode: ブラウザ表示 is offered only while it is off.
    virtual bool internet_on() const = 0;
    // Where the crawler sends its requests; none while the proxy does not listen.
    virtual std::optional<ProxyEndpoint> proxy_endpoint() const = 0;
    // The live connections, for the immediate stop; nullptr when there are none.
    virtual ConnectionRegistry* connections() = 0;
};

// The immediate stop's cut: every connection that serves the crawler loses
// its open server socket, which ends its transfer at once, and every live
// connection gets the stop mark, so that a crawler connection that has not
// asked for its server socket yet gets none.
void cut_crawler_transfers(ConnectionRegistry& connections);

}  // namespace vellum
