// The program's proxy port as the crawler sees it, for tests of the crawler
// and the auto-get window: each connection's request block is captured byte
// for byte (the crawler sends it in one piece and closes), and a handler the
// test gives plays the proxy engine, recording pages into a save folder and
// reporting to the crawler thread (report_fetch_*, which post to the
// registered crawler thread).
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/win_handles.h"
#include "http/http_message.h"
#include "proxy/own_connections_win.h"
#include "store/recorded_page.h"
#include "store/recorded_page_win.h"
#include "store/store_files_win.h"
#include "store/url_map.h"
#include "tests/support/socket_pair_win.h"

namespace vellum::testing {

// Records `body` with `type` as the proxy engine does for a 200 answer.
inline void record_page(const std::string& save, const std::string& url, const std::string& body,
                 std::optional<std::string> type) {
    const ParsedUrl parsed = parse_url(url).value();
    const std::string path = url_store_path(save, parsed).value();
    const std::string receiving = receiving_file_name(path, 99);
    {
        FileHandle file = create_file_with_folders(receiving);
        ASSERT_TRUE(file);
        DWORD written = 0;
        WriteFile(file.get(), body.data(), static_cast<DWORD>(body.size()), &written, nullptr);
    }
    ServerResponse response;
    response.status = 200;
    response.content_type = std::move(type);
    ASSERT_FALSE(commit_recorded_page(save, parsed, response, receiving));
}

// The program's proxy port as the crawler sees it.
class FakeProxy {
public:
    struct Request {
        std::string block;
        bool own = false;  // the connection announced itself
    };
    // Answers a request: records what the proxy would, then reports to the
    // crawler thread (report_fetch_* post to the registered crawler id).
    using Handler = std::function<void(const std::string& block)>;

    explicit FakeProxy(Handler handler) : handler_(std::move(handler)) {
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
    ~FakeProxy() {
        closesocket(listener_.release());
        thread_.join();
    }
    std::uint16_t port() const { return port_; }
    std::vector<Request> requests() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    std::vector<std::string> blocks() {
        std::vector<std::string> out;
        for (const Request& r : requests()) out.push_back(r.block);
        return out;
    }

private:
    void serve() {
        for (;;) {
            SOCKET client = accept(listener_.get(), nullptr, nullptr);
            if (client == INVALID_SOCKET) return;
            Request request;
            request.block = testing::receive_all(client);  // the crawler closes after one send
            request.own = is_own_connection(client);
            closesocket(client);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                requests_.push_back(request);
            }
            handler_(request.block);
        }
    }

    Handler handler_;
    UniqueSocket listener_;
    std::uint16_t port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::vector<Request> requests_;
};

}  // namespace vellum::testing
