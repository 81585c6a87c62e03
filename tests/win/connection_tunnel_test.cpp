// CONNECT tunnels through the connection handler, over real loopback
// sockets: a raw TCP server (or a stand-in for the upstream proxy) at the far
// end, the test as the browser, a stand-in for the main window's answers.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <random>
#include <thread>

#include "proxy/connect_target.h"
#include "proxy/connection_handler_win.h"
#include "proxy/connection_record.h"
#include "tests/support/fake_main_window_win.h"
#include "tests/support/socket_pair_win.h"

namespace vellum {
namespace {

using testing::FakeMainWindow;

constexpr char kEstablished[] = "HTTP/1.0 200 Connection established\r\n\r\n";

// A plain TCP server on a loopback port: each connection is handed to the
// test's handler as it stands, nothing read first.
class RawServer {
public:
    using Handler = std::function<void(SOCKET)>;
    explicit RawServer(Handler handler) : handler_(std::move(handler)) {
        listener_.reset(socket(AF_INET, SOCK_STREAM, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener_.get(), 5);
        int length = sizeof address;
        getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] {
            for (;;) {
                UniqueSocket client(accept(listener_.get(), nullptr, nullptr));
                if (!client) return;
                ++accepted_;
                handler_(client.get());
            }
        });
    }
    ~RawServer() {
        closesocket(listener_.release());
        thread_.join();
    }
    int port() const { return port_; }
    int accepted() const { return accepted_; }

private:
    Handler handler_;
    UniqueSocket listener_;
    int port_ = 0;
    std::atomic<int> accepted_{0};
    std::thread thread_;
};

// Reads up to the end of a header block, byte by byte.
std::string read_header(SOCKET s) {
    std::string header;
    char c;
    while (header.find("\r\n\r\n") == std::string::npos && recv(s, &c, 1, 0) == 1) header += c;
    return header;
}

std::string receive_exactly(SOCKET s, std::size_t size) {
    std::string bytes;
    char buffer[65536];
    while (bytes.size() < size) {
        const int n = recv(s, buffer, static_cast<int>(std::min<std::size_t>(sizeof buffer, size - bytes.size())), 0);
        if (n <= 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return bytes;
}

std::string random_bytes(std::size_t size) {
    std::mt19937 random(32);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
    return bytes;
}

class TunnelTest : public ::testing::Test {
protected:
    testing::WinsockSession winsock;
    FakeMainWindow main;
    ConnectionRecord record;

    void SetUp() override {
        record.internet = true;
        record.log_detail = true;
    }

    // Plays the browser: sends `request`, then hands the open socket to
    // `browser`, which does the rest, while the proxy serves the connection.
    void connect_through(const std::string& request, const std::function<void(SOCKET)>& browser) {
        auto pair = testing::make_socket_pair();
        record.client_socket = pair.near_end.release();
        testing::send_all(pair.far_end.get(), request);
        std::thread client([&] {
            browser(pair.far_end.get());
            pair.far_end.reset();
        });
        main.run(record);
        client.join();
    }

    // The whole answer to a CONNECT the proxy refuses.
    std::string refused(const std::string& request) {
        std::string answer;
        connect_through(request, [&](SOCKET s) { answer = testing::receive_all(s); });
        return answer;
    }

    std::string log_text() const { return main.result.log.join(); }
    bool logged(const std::string& text) const { return log_text().find(text) != std::string::npos; }
};

TEST_F(TunnelTest, BytesGoThroughBothWaysUntouchedUntilTheBrowserCloses) {
    const std::string up = random_bytes(3 * 1048576 + 17);
    const std::string down = random_bytes(2 * 1048576 + 5);
    std::string server_got;
    RawServer server([&](SOCKET s) {
        // Answers while the browser is still sending: both directions at once.
        std::thread answer([&] { testing::send_all(s, down); });
        server_got = receive_exactly(s, up.size());
        answer.join();
        testing::receive_all(s);  // until the browser's close comes through
    });
    record.tunnel_ports = parse_tunnel_ports(std::to_string(server.port()));
    std::string head;
    std::string browser_got;
    const std::string target = "127.0.0.1:" + std::to_string(server.port());
    connect_through("CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n\r\n", [&](SOCKET s) {
        head = receive_exactly(s, std::strlen(kEstablished));
        std::thread send_up([&] { testing::send_all(s, up); });
        browser_got = receive_exactly(s, down.size());
        send_up.join();
    });
    EXPECT_EQ(head, kEstablished);
    EXPECT_TRUE(server_got == up) << "upward bytes differ (" << server_got.size() << " of " << up.size() << ")";
    EXPECT_TRUE(browser_got == down) << "downward bytes differ (" << browser_got.size() << " of " << down.size() << ")";
    EXPECT_EQ(main.result.status, 0) << log_text();
    EXPECT_EQ(main.result.response_code, 200);
    ASSERT_TRUE(main.result.tree_request);
    EXPECT_EQ(main.result.tree_request->url, target);
    EXPECT_TRUE(logged("トンネル接続先：" + target + "\r\n")) << log_text();
    EXPECT_TRUE(logged("トンネル接続完了\r\n"));
    EXPECT_TRUE(logged("通信量(byte) クライアント → サーバー：" + std::to_string(up.size()) + "\r\n")) << log_text();
    EXPECT_TRUE(logged("通信量(byte) サーバー → クライアント：" + std::to_string(down.size()) + "\r\n"));
    EXPECT_TRUE(logged("クライアントが切断しました\r\n"));
}

TEST_F(TunnelTest, AServerThatClosesFirstEndsTheTunnelAfterItsLastByte) {
    RawServer server([](SOCKET s) {
        testing::send_all(s, "server hello");
        shutdown(s, SD_SEND);
        testing::receive_all(s);
    });
    record.tunnel_ports = parse_tunnel_ports(std::to_string(server.port()));
    std::string answer;
    connect_through("CONNECT 127.0.0.1:" + std::to_string(server.port()) + " HTTP/1.0\r\n\r\n",
                    [&](SOCKET s) { answer = testing::receive_all(s); });
    EXPECT_EQ(answer, std::string(kEstablished) + "server hello");
    EXPECT_EQ(main.result.status, 0);
    EXPECT_TRUE(logged("サーバーが切断しました\r\n")) << log_text();
}

TEST_F(TunnelTest, RefusalsGetTheirPageAndAnErrorLine) {
    record.log_detail = false;
    const std::string page_tail = "<HR><ADDRESS>Vellum 1.31b</ADDRESS></BODY></HTML>";
    struct Case {
        std::string request;
        bool internet;
        std::string status_line;
        std::string error;
        int code;
    } cases[] = {
        {"CONNECT h HTTP/1.1\r\n\r\n", true, "HTTP/1.0 400 Bad Request", "*** CONNECT の接続先が正しくありません！ ***\r\n", 400},
        {"CONNECT h:0 HTTP/1.1\r\n\r\n", true, "HTTP/1.0 400 Bad Request", "*** CONNECT の接続先が正しくありません！ ***\r\n", 400},
        {"CONNECT user@h:443 HTTP/1.1\r\n\r\n", true, "HTTP/1.0 400 Bad Request", "*** CONNECT の接続先が正しくありません！ ***\r\n", 400},
        {"CONNECT [::1]:443 HTTP/1.1\r\n\r\n", true, "HTTP/1.0 400 Bad Request", "*** CONNECT の接続先が正しくありません！ ***\r\n", 400},
        {"CONNECT a b:443 HTTP/1.1\r\n\r\n", true, "HTTP/1.0 400 Bad Request", "*** CONNECT の接続先が正しくありません！ ***\r\n", 400},
        {"CONNECT " + std::string(300, 'a') + ":443 HTTP/1.1\r\n\r\n", true, "HTTP/1.0 400 Bad Request",
         "*** CONNECT の接続先が正しくありません！ ***\r\n", 400},
        {"CONNECT h:22 HTTP/1.1\r\n\r\n", true, "HTTP/1.0 403 Forbidden", "*** ポート 22 へのトンネルは許可されていません！ ***\r\n", 403},
        {"CONNECT h:443 HTTP/1.1\r\n\r\n", false, "HTTP/1.0 503 Service Unavailable", "*** オフラインなのでトンネルは開けません！ ***\r\n", 503},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request);
        record.internet = c.internet;
        const std::string answer = refused(c.request);
        EXPECT_EQ(answer.substr(0, answer.find("\r\n")), c.status_line);
        EXPECT_NE(answer.find("<PRE>Client request : " + c.request.substr(0, c.request.find("\r\n") + 2) + "</PRE>"),
                  std::string::npos) << answer;
        EXPECT_TRUE(answer.ends_with(page_tail));
        EXPECT_EQ(log_text(), c.error);
        EXPECT_EQ(main.result.status, 1);
        EXPECT_EQ(main.result.response_code, c.code);
        EXPECT_TRUE(main.result.added) << "shown in the request tree";
        EXPECT_EQ(main.result.server_sockets_made, 0);
    }
}

TEST_F(TunnelTest, ATunnelWhereNothingMovesIsClosedAtTheIdleLimit) {
    record.tunnel_idle_seconds = 1;
    RawServer server([](SOCKET s) { testing::receive_all(s); });  // never says anything
    record.tunnel_ports = parse_tunnel_ports(std::to_string(server.port()));
    std::string answer;
    const ULONGLONG start = GetTickCount64();
    connect_through("CONNECT 127.0.0.1:" + std::to_string(server.port()) + " HTTP/1.0\r\n\r\n",
                    [&](SOCKET s) { answer = testing::receive_all(s); });
    const ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_EQ(answer, kEstablished);
    EXPECT_GE(elapsed, 900u);
    EXPECT_LT(elapsed, 10000u);
    EXPECT_EQ(main.result.status, 0);
    EXPECT_TRUE(logged("1 秒間通信が無いので切断します\r\n")) << log_text();
}

TEST_F(TunnelTest, TheUpstreamProxyGetsTheConnectAndItsYesBecomesOurs) {
    std::string upstream_got;
    RawServer upstream([&](SOCKET s) {
        upstream_got = read_header(s);
        testing::send_all(s, "HTTP/1.1 200 Connection established\r\nProxy-agent: upstream/1\r\n\r\n");
        testing::send_all(s, receive_exactly(s, 4) + " back");
        shutdown(s, SD_SEND);
        testing::receive_all(s);
    });
    record.proxy = {"127.0.0.1", std::to_string(upstream.port()), 1};
    std::string answer;
    connect_through("CONNECT far.example:443 HTTP/1.1\r\nUser-Agent: UA\r\n\r\n", [&](SOCKET s) {
        testing::send_all(s, "ping");
        answer = testing::receive_all(s);
    });
    EXPECT_EQ(upstream_got, "CONNECT far.example:443 HTTP/1.0\r\nHost: far.example:443\r\n\r\n");
    EXPECT_EQ(answer, std::string(kEstablished) + "ping back");
    EXPECT_EQ(main.result.status, 0) << log_text();
    EXPECT_TRUE(logged("インターネットへのアクセスにプロキシサーバーを使用します\r\n"));
}

TEST_F(TunnelTest, TheUpstreamsRefusalIsTheBrowsersAnswer) {
    RawServer upstream([](SOCKET s) {
        read_header(s);
        testing::send_all(s, "HTTP/1.1 403 Forbidden\r\nConnection: close\r\nContent-Length: 5\r\n\r\nnope!");
    });
    record.proxy = {"127.0.0.1", std::to_string(upstream.port()), 1};
    EXPECT_EQ(refused("CONNECT far.example:443 HTTP/1.1\r\n\r\n"), "HTTP/1.0 403 Forbidden\r\nContent-Length: 5\r\n\r\nnope!");
    EXPECT_EQ(main.result.status, 1);
    EXPECT_EQ(main.result.response_code, 403);
    EXPECT_TRUE(logged("*** プロキシサーバーがトンネルを断りました (403) ***\r\n")) << log_text();
}

TEST_F(TunnelTest, AnUpstreamThatNeverAnswersIsLetGo) {
    record.tunnel_idle_seconds = 1;
    RawServer upstream([](SOCKET s) { testing::receive_all(s); });
    record.proxy = {"127.0.0.1", std::to_string(upstream.port()), 1};
    const std::string answer = refused("CONNECT far.example:443 HTTP/1.1\r\n\r\n");
    EXPECT_EQ(answer.substr(0, answer.find("\r\n")), "HTTP/1.0 502 Bad Gateway");
    EXPECT_NE(answer.find("<PRE>HOST : 127.0.0.1\r\nPORT : " + record.proxy.port + "</PRE>"), std::string::npos);
    EXPECT_EQ(main.result.status, 1);
    EXPECT_TRUE(logged("*** プロキシサーバーから CONNECT の応答がありません！ ***\r\n")) << log_text();
}

TEST_F(TunnelTest, TheCloseSequenceEndsARunningTunnel) {
    RawServer server([](SOCKET s) { testing::receive_all(s); });
    record.tunnel_ports = parse_tunnel_ports(std::to_string(server.port()));
    connect_through("CONNECT 127.0.0.1:" + std::to_string(server.port()) + " HTTP/1.0\r\n\r\n", [&](SOCKET s) {
        receive_exactly(s, std::strlen(kEstablished));
        // What the main window's close does to every live connection.
        post_abort(record);
        close_socket_slot(record.server_socket);
        close_socket_slot(record.client_socket);
        testing::receive_all(s);
    });
    EXPECT_EQ(main.result.status, status_word(ConnectionStatus::aborted)) << log_text();
    EXPECT_TRUE(logged("*** 強制終了！ ***\r\n"));
}

TEST_F(TunnelTest, AFailedConnectEndsWithoutATunnel) {
    record.log_detail = false;
    UniqueSocket closed(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(closed.get(), reinterpret_cast<sockaddr*>(&any), sizeof any);
    int length = sizeof any;
    getsockname(closed.get(), reinterpret_cast<sockaddr*>(&any), &length);
    const int port = ntohs(any.sin_port);
    closed.reset();
    record.tunnel_ports = parse_tunnel_ports(std::to_string(port));
    EXPECT_EQ(refused("CONNECT 127.0.0.1:" + std::to_string(port) + " HTTP/1.0\r\n\r\n"), "");
    EXPECT_EQ(main.result.status, 1);
    EXPECT_NE(log_text().find("*** connect エラー(10061) ***"), std::string::npos) << log_text();
}

}  // namespace
}  // namespace vellum
