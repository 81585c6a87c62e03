// A scriptable origin server on a loopback port for the proxy's tests: each
// accepted connection reads the request header block, records it, and is
// answered by the handler the test gave (or refused when none is left).
#pragma once

#include <winsock2.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "proxy/connection_io_win.h"
#include "http/line_reader.h"
#include "tests/support/socket_pair_win.h"

namespace vellum::testing {

class OriginServer {
public:
    // Answers one request: `request` is the header block (and body bytes the
    // handler reads itself); send on `client`.
    using Handler = std::function<void(SOCKET client, const std::string& request)>;

    explicit OriginServer(Handler handler) : handler_(std::move(handler)) {
        listener_.reset(socket(AF_INET, SOCK_STREAM, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener_.get(), 5);
        int length = sizeof address;
        getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~OriginServer() {
        closesocket(listener_.release());
        thread_.join();
    }

    int port() const { return port_; }
    std::vector<std::string> requests() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }

    // Answers every request with these bytes, then closes.
    static Handler answer(std::string bytes) {
        return [bytes](SOCKET client, const std::string&) { send_all(client, bytes); };
    }

private:
    void serve() {
        for (;;) {
            SOCKET client = accept(listener_.get(), nullptr, nullptr);
            if (client == INVALID_SOCKET) return;
            SocketSource source(client);
            std::string request;
            while (auto line = read_line(source, '\n')) {
                request += *line;
                if (*line == "\r\n" || *line == "\n") break;
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                requests_.push_back(request);
            }
            handler_(client, request);
            shutdown(client, SD_SEND);
            closesocket(client);
        }
    }

    Handler handler_;
    UniqueSocket listener_;
    int port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::vector<std::string> requests_;
};

}  // namespace vellum::testing
