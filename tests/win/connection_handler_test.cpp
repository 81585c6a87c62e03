// The connection handler over real loopback sockets, a real origin server and
// a real save folder, with a stand-in for the main window's answers.
#include "proxy/connection_handler_win.h"

#include <gtest/gtest.h>

#include <thread>

#include "proxy/connection_record.h"
#include "proxy/own_connections_win.h"
#include "http/http_date.h"
#include "store/recorded_page.h"
#include "store/recorded_page_win.h"
#include "tests/support/fake_main_window_win.h"
#include "tests/support/origin_server_win.h"
#include "tests/support/socket_pair_win.h"
#include "tests/support/temp_folder_win.h"

namespace vellum {
namespace {

using testing::FakeMainWindow;
using testing::file_exists;
using testing::list_folder;
using testing::OriginServer;
using testing::read_file;
using testing::write_file;

constexpr char kProgramAddress[] = "<HR><ADDRESS>Vellum 1.31b</ADDRESS></BODY></HTML>";

class ConnectionHandlerTest : public ::testing::Test {
protected:
    testing::WinsockSession winsock;
    testing::TempFolder save;
    FakeMainWindow main;
    ConnectionRecord record;

    void SetUp() override {
        record.save_folder = save.path();
        record.log_detail = true;
    }

    // Plays the browser (or, `own`, the program's crawler or forced-get
    // queue): sends `request`, lets the proxy serve it, returns every byte
    // the proxy sent back before closing.
    std::string exchange(const std::string& request, bool own = false) {
        auto pair = testing::make_socket_pair();
        record.client_socket = pair.near_end.release();
        if (own) {
            EXPECT_TRUE(announce_own_connection(pair.far_end.get()));
        }
        testing::send_all(pair.far_end.get(), request);
        shutdown(pair.far_end.get(), SD_SEND);  // the browser has said all it will
        std::string answer;
        std::thread browser([&] { answer = testing::receive_all(pair.far_end.get()); });
        main.run(record);
        browser.join();
        return answer;
    }

    std::string folder(const std::string& host) const { return save.path() + "\\" + host; }

    // A recorded page as the proxy leaves it.
    void record_page(const std::string& relative, const std::string& body, const std::string& companion_tail) {
        const std::string path = save.path() + "\\" + relative;
        std::string parent = path.substr(0, path.rfind('\\'));
        CreateDirectoryA(parent.substr(0, parent.rfind('\\')).c_str(), nullptr);
        CreateDirectoryA(parent.c_str(), nullptr);
        write_file(path, body);
        write_file(path + companion_tail, "");
    }

    std::string log_text() const { return main.result.log.join(); }
};

// --- offline ------------------------------------------------------------------

TEST_F(ConnectionHandlerTest, OfflineServesTheRecordedPageWithItsRebuiltHeader) {
    record_page("h\\a.html", "<html>recorded</html>", "(19941106084937 text%2Fhtml)");
    std::string answer = exchange("GET http://h/a.html HTTP/1.1\r\nUser-Agent: t\r\n\r\n");
    EXPECT_EQ(answer,
              "HTTP/1.0 200 OK\r\nLast-modified: Sun, 06 Nov 1994 08:49:37 GMT\r\nContent-length: 21\r\n"
              "Content-type: text/html\r\n\r\n<html>recorded</html>");
    EXPECT_EQ(main.result.status, 0);
    EXPECT_EQ(main.result.response_code, 200);
    EXPECT_EQ(main.result.content_class, 2);
    EXPECT_EQ(main.result.server_sockets_made, 0);
    // The tree got the request itself and, paired by its ticket, how it ended.
    ASSERT_TRUE(main.result.tree_request);
    EXPECT_EQ(main.result.tree_request->url, "http://h/a.html");
    EXPECT_FALSE(main.result.added_as_crawler);
    EXPECT_TRUE(main.result.ended);
    EXPECT_NE(main.result.begun_ticket, 0u);
    EXPECT_EQ(main.result.ended_ticket, main.result.begun_ticket);
}

TEST_F(ConnectionHandlerTest, OfflineIfModifiedSince) {
    record_page("h\\a.html", "body", "(19941106084937 text%2Fhtml)");
    EXPECT_EQ(exchange("GET http://h/a.html HTTP/1.0\r\nIf-Modified-Since: Sun, 06 Nov 1994 08:49:37 GMT\r\n\r\n"),
              "HTTP/1.0 304 Not Modified\r\n\r\n");
    EXPECT_EQ(main.result.response_code, 304);
    EXPECT_EQ(main.result.content_class, 2);
    std::string newer =
        exchange("GET http://h/a.html HTTP/1.0\r\nIf-Modified-Since: Mon, 07 Nov 1994 08:49:37 GMT\r\n\r\n");
    EXPECT_NE(newer.find("\r\n\r\nbody"), std::string::npos);
}

TEST_F(ConnectionHandlerTest, OfflineRedirectFileIsSentAsItStands) {
    CreateDirectoryA(folder("h").c_str(), nullptr);
    const std::string recorded = "HTTP/1.0 301 Moved Permanently\r\nLocation: http://h/b/\r\n\r\n<a href=b/>moved</a>";
    write_file(folder("h") + "\\b.response", recorded);
    EXPECT_EQ(exchange("GET http://h/b HTTP/1.0\r\n\r\n"), recorded);
    EXPECT_EQ(main.result.status, 0);
}

TEST_F(ConnectionHandlerTest, OfflineMissingPageGetsThe404Page) {
    const std::string request_line = "GET http://h/missing.html HTTP/1.0\r\n";
    std::string answer = exchange(request_line + "\r\n");
    EXPECT_EQ(answer, "HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n"
                      "\r\n<HTML><HEAD><TITLE>Error</TITLE></HEAD><BODY><H1>Not Found</H1>"
                      "<PRE>Client request : " + request_line + "Local filename : " + save.path() +
                      "\\h\\missing.html</PRE>" + kProgramAddress);
    EXPECT_EQ(main.result.response_code, 404);
    EXPECT_EQ(main.result.status, 0);
    EXPECT_NE(log_text().find("*** ローカルが存在しません！ ***\r\n"), std::string::npos);
}

TEST_F(ConnectionHandlerTest, OfflineEmptyPageIsMissing) {
    record_page("h\\empty", "", "(00000000000000 none)");
    EXPECT_EQ(exchange("GET http://h/empty HTTP/1.0\r\n\r\n").substr(0, 22), "HTTP/1.0 404 Not Found");
}

TEST_F(ConnectionHandlerTest, OfflineOtherMethodsGetThe501Page) {
    std::string answer = exchange("HEAD http://h/a.html HTTP/1.0\r\n\r\n");
    EXPECT_EQ(answer, "HTTP/1.0 501 Not Implemented\r\nContent-Type: text/html\r\n"
                      "\r\n<HTML><HEAD><TITLE>Error</TITLE></HEAD><BODY><H1>Error</H1>"
                      "<PRE>Client request : HEAD http://h/a.html HTTP/1.0\r\n</PRE>" +
                          std::string(kProgramAddress));
    EXPECT_EQ(main.result.status, 1);
    EXPECT_EQ(main.result.response_code, 501);
}

TEST_F(ConnectionHandlerTest, NonHttpTargetsCloseWithoutAnswer) {
    record.log_detail = false;
    EXPECT_EQ(exchange("GET ftp://host/ HTTP/1.0\r\n\r\n"), "");
    EXPECT_EQ(main.result.status, 1003);
    EXPECT_FALSE(main.result.added);
}

TEST_F(ConnectionHandlerTest, ASilentClientEndsWithStatus1) {
    EXPECT_EQ(exchange(""), "");
    EXPECT_EQ(main.result.status, 1);
}

TEST_F(ConnectionHandlerTest, AClientSilentPastTheLimitIsLetGo) {
    record.request_idle_seconds = 1;
    record.log_detail = false;
    // Nothing at all, then half a header: the client stays connected and
    // says no more, and the thread ends all the same.
    for (const std::string sent : {"", "GET http://h/a.html HTTP/1.0\r\nHost: h\r\n"}) {
        auto pair = testing::make_socket_pair();
        record.client_socket = pair.near_end.release();
        testing::send_all(pair.far_end.get(), sent);
        main.run(record);
        EXPECT_EQ(main.result.status, 1);
        EXPECT_FALSE(main.result.added);
    }
}

TEST_F(ConnectionHandlerTest, AFloodOfHeaderLinesIsRefusedEarly) {
    // Fifty thousand lines: the request is refused once it passes a thousand,
    // like an over-long header, with most of the flood never read.
    record.log_detail = false;
    auto pair = testing::make_socket_pair();
    record.client_socket = pair.near_end.release();
    std::string flood = "GET http://h/a.html HTTP/1.0\r\n";
    for (int i = 0; i < 50000; ++i) flood += "X: y\r\n";
    std::thread client([&, socket = pair.far_end.get()] {
        testing::send_all(socket, flood + "\r\n");
        shutdown(socket, SD_SEND);
    });
    main.run(record);
    pair.far_end.reset();  // the rest of the flood goes nowhere
    client.join();
    EXPECT_EQ(main.result.status, 1);
    EXPECT_FALSE(main.result.added);
}

TEST_F(ConnectionHandlerTest, CrawlerRequestsOfflineAreNotAnswered) {
    record_page("h\\a.html", "body", "(19941106084937 text%2Fhtml)");
    main.refuse_server_socket = true;  // the forced get goes online; let it find no socket
    EXPECT_EQ(exchange("GET http://h/a.html HTTP/1.0\r\nVellum-Mode: RecMode\r\n\r\n", true), "");
    EXPECT_TRUE(main.result.marked_autoget);
    EXPECT_TRUE(main.result.added_as_crawler) << "the tree decides by the connection's mark";
    EXPECT_EQ(main.result.status, 1) << "online despite the offline setting, and no server socket";
}

TEST_F(ConnectionHandlerTest, AStoppedCrawlersRequestGetsNoServerSocketAndNoPage) {
    record.autoget_stopped = true;  // the stop command came before the request
    EXPECT_EQ(exchange("GET http://127.0.0.1:9/a.html HTTP/1.0\r\nVellum-Mode: RecMode\r\n\r\n", true), "");
    EXPECT_TRUE(main.result.marked_autoget);
    EXPECT_EQ(main.result.server_sockets_made, 0);
    EXPECT_EQ(main.result.status, 1);
    EXPECT_EQ(log_text().find("socket エラー"), std::string::npos) << log_text();
}

TEST_F(ConnectionHandlerTest, AnAbortThatComesWhileTheServerSocketIsMadeEndsTheConnection) {
    // The abort lands between the look before and the look after, as the
    // main window's close would if its timing were unlucky.
    main.on_server_socket = [this] { post_abort(record); };
    EXPECT_EQ(exchange("GET http://127.0.0.1:9/a.html HTTP/1.0\r\nVellum-Mode: RecMode\r\n\r\n", true), "");
    EXPECT_EQ(main.result.server_sockets_made, 1);
    EXPECT_EQ(main.result.status, status_word(ConnectionStatus::aborted));
    EXPECT_EQ(record.server_socket.load(), INVALID_SOCKET) << "closed by the connection's end";
}

TEST_F(ConnectionHandlerTest, AStrangersMarkerLinesDoNothing) {
    // Offline, a page's script adds the crawler's lines and a folder of its
    // choosing: the request is answered from the save folder as any other.
    testing::TempFolder elsewhere;
    record_page("h\\a.html", "recorded", "(19941106084937 text%2Fhtml)");
    for (const std::string& marks : {std::string("Vellum-Mode: RecMode\r\n"), std::string("Vellum-Mode: GetOnly\r\n")}) {
        std::string answer = exchange("GET http://h/a.html HTTP/1.0\r\n" + marks + "Vellum-LocalPath: " +
                                      elsewhere.path() + "\r\n\r\n");
        EXPECT_NE(answer.find("\r\n\r\nrecorded"), std::string::npos) << answer;
        EXPECT_FALSE(main.result.marked_autoget);
        EXPECT_EQ(main.result.server_sockets_made, 0) << "stays offline";
        EXPECT_NE(log_text().find("自動取得：0\r\n強制取得：0\r\nブラウザ連携：1\r\nインターネット接続：0\r\n"),
                  std::string::npos);
        EXPECT_NE(log_text().find("ファイル名：" + save.path() + "\\h\\a.html\r\n"), std::string::npos);
    }
}

TEST_F(ConnectionHandlerTest, TheLogHoldsTheStepsInOrderAndErrorsAlways) {
    record_page("h\\a.html", "body", "(00000000000000 text%2Fplain)");
    exchange("GET http://h/a.html HTTP/1.0\r\n\r\n");
    const std::string log = log_text();
    const char* steps[] = {"クライエント通信用ソケット識別子：",
                           "リクエストヘッダー(from Client)受信開始\r\n",
                           "リクエストヘッダー(from Client)の内容 次の行から--->\r\nGET http://h/a.html HTTP/1.0\r\n\r\n<---ここまで\r\n",
                           "ツリー表示インターフェース開始\r\n完了\r\n",
                           "------------------------------\r\n自動取得：0\r\n強制取得：0\r\nブラウザ連携：1\r\n"
                           "インターネット接続：0\r\nページ保存：0\r\nファイル名：",
                           "ローカルが存在するか確認\r\nローカルは存在します\r\n",
                           "ローカルがクライアントのキャッシュより新しいファイルです\r\n",
                           "通信開始（ローカル → クライアント）\r\n完了\r\n通信量(byte)：4\r\n",
                           "クライアント通信用ソケットクローズ開始\r\n完了\r\n正常終了\r\n"};
    std::size_t at = 0;
    for (const char* step : steps) {
        std::size_t found = log.find(step, at);
        ASSERT_NE(found, std::string::npos) << step << "\nin\n" << log;
        at = found;
    }

    record.log_detail = false;
    exchange("GET http://h/nothing HTTP/1.0\r\n\r\n");
    EXPECT_EQ(log_text(), "*** ローカルが存在しません！ ***\r\n");
}

TEST_F(ConnectionHandlerTest, ReservationsAreHandedToTheMainWindow) {
    EXPECT_EQ(exchange("TESSEL.DLL\r\nReserveAutoGet\r\nGET http://h/r.html HTTP/1.0\r\nUser-Agent: UA\r\n\r\n"), "");
    ASSERT_TRUE(main.result.reserved);
    EXPECT_EQ(main.result.reserved->url, "http://h/r.html");
    EXPECT_EQ(main.result.reserved->user_agent, "UA");
    EXPECT_FALSE(main.result.added);
    EXPECT_EQ(main.result.status, 0);
}

TEST_F(ConnectionHandlerTest, ReceivingFileNamesCarryTheSocketNumber) {
    EXPECT_EQ(receiving_file_name("C:\\s\\h\\a", 104), "C:\\s\\h\\a.#00104#");
}

// --- online ---------------------------------------------------------------------

class OnlineTest : public ConnectionHandlerTest {
protected:
    void SetUp() override {
        ConnectionHandlerTest::SetUp();
        record.internet = true;
    }
    std::string url(const OriginServer& origin, const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(origin.port()) + path;
    }
    std::string store_folder(const OriginServer& origin) const {
        return save.path() + "\\127.0.0.1%3A" + std::to_string(origin.port());
    }
};

TEST_F(OnlineTest, ForwardsTheFilteredRequestAndRelaysTheAnswer) {
    OriginServer origin(OriginServer::answer("HTTP/1.1 200 OK\r\nETag: \"x\"\r\nConnection: close\r\n"
                                             "Content-Type: text/plain\r\nContent-Length: 5\r\n\r\nhello"));
    main.cookie = "jar=1";
    std::string answer = exchange("GET " + url(origin, "/p?q=1") + " HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                  "Cookie: browser=1\r\nAccept-Encoding: gzip\r\nAccept: text/html\r\n\r\n");
    EXPECT_EQ(answer, "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 5\r\n\r\nhello");
    ASSERT_EQ(origin.requests().size(), 1u);
    EXPECT_EQ(origin.requests()[0], "GET /p?q=1 HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(origin.port()) +
                                        "\r\nAccept: */*\r\nCookie: jar=1\r\n\r\n");
    EXPECT_FALSE(file_exists(store_folder(origin))) << "nothing is recorded while only online";
    EXPECT_EQ(main.result.status, 0);
    EXPECT_EQ(main.result.content_class, 5);
}

TEST_F(OnlineTest, TheRecordsJarAnswersWithoutAskingTheMainWindow) {
    OriginServer origin(OriginServer::answer("HTTP/1.0 200 OK\r\n\r\nok"));
    main.cookie = "asked=1";  // what the main window would answer
    record.cookies_for = [](const ParsedUrl& url) { return std::optional<std::string>("jar=" + url.host.value_or("")); };
    EXPECT_EQ(exchange("GET " + url(origin, "/") + " HTTP/1.0\r\n\r\n"), "HTTP/1.0 200 OK\r\n\r\nok");
    ASSERT_EQ(origin.requests().size(), 1u);
    EXPECT_EQ(origin.requests()[0], "GET / HTTP/1.0\r\nCookie: jar=127.0.0.1\r\n\r\n");
}

TEST_F(OnlineTest, RecordingKeepsThePageAndItsCompanion) {
    record.page_save = true;
    OriginServer origin(OriginServer::answer("HTTP/1.0 200 OK\r\nLast-Modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
                                             "Content-Type: text/html; charset=Shift_JIS\r\nContent-Length: 4\r\n\r\npage"));
    exchange("GET " + url(origin, "/dir/") + " HTTP/1.0\r\n\r\n");
    EXPECT_EQ(list_folder(store_folder(origin) + "\\dir"),
              (std::vector<std::string>{"index.html", "index.html(19941106084937 text%2Fhtml; charset=Shift_JIS)"}));
    EXPECT_EQ(read_file(store_folder(origin) + "\\dir\\index.html"), "page");
}

TEST_F(OnlineTest, AnUnchangedPageIsAnsweredFromDisk) {
    record.page_save = true;
    OriginServer origin(OriginServer::answer("HTTP/1.0 200 OK\r\nLast-Modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
                                             "Content-Type: text/html\r\n\r\nNEW BODY"));
    const std::string host = "127.0.0.1%3A" + std::to_string(origin.port());
    record_page(host + "\\a.html", "old body", "(19941106084937 text%2Fhtml)");
    std::string answer = exchange("GET " + url(origin, "/a.html") + " HTTP/1.0\r\n\r\n");
    EXPECT_EQ(answer, "HTTP/1.0 200 OK\r\nLast-modified: Sun, 06 Nov 1994 08:49:37 GMT\r\nContent-length: 8\r\n"
                      "Content-type: text/html\r\n\r\nold body");
    EXPECT_NE(log_text().find("ローカルに存在するファイルは更新されていません\r\n"), std::string::npos);
}

TEST_F(OnlineTest, ARedirectIsRecordedWhole) {
    record.page_save = true;
    OriginServer origin(OriginServer::answer(
        "HTTP/1.1 301 Moved Permanently\r\nLocation: http://x/\r\nETag: \"1\"\r\nContent-Length: 5\r\n\r\nmoved"));
    std::string answer = exchange("GET " + url(origin, "/r") + " HTTP/1.0\r\n\r\n");
    const std::string expected = "HTTP/1.0 301 Moved Permanently\r\nLocation: http://x/\r\nContent-Length: 5\r\n\r\nmoved";
    EXPECT_EQ(answer, expected);
    EXPECT_EQ(list_folder(store_folder(origin)), (std::vector<std::string>{"r.response"}));
    EXPECT_EQ(read_file(store_folder(origin) + "\\r.response"), expected);
}

TEST_F(OnlineTest, OtherStatusesAreRelayedNotRecorded) {
    record.page_save = true;
    OriginServer origin(OriginServer::answer("HTTP/1.0 404 Not Found\r\nContent-Length: 4\r\n\r\ngone"));
    EXPECT_EQ(exchange("GET " + url(origin, "/x") + " HTTP/1.0\r\n\r\n"),
              "HTTP/1.0 404 Not Found\r\nContent-Length: 4\r\n\r\ngone");
    EXPECT_NE(log_text().find("レスポンスコードが 200 以外なので保存しません！\r\n"), std::string::npos);
    EXPECT_FALSE(file_exists(store_folder(origin)));
}

TEST_F(OnlineTest, A304ForAMissingPageQueuesOneForcedGet) {
    record.page_save = true;
    OriginServer origin(OriginServer::answer("HTTP/1.0 304 Not Modified\r\n\r\n"));
    const std::string request = "GET " + url(origin, "/c.gif") + " HTTP/1.0\r\n"
                                "If-Modified-Since: Sun, 06 Nov 1994 08:49:37 GMT\r\nUser-Agent: UA\r\n\r\n";
    EXPECT_EQ(exchange(request), "HTTP/1.0 304 Not Modified\r\n\r\n");
    ASSERT_EQ(main.result.forced_gets.size(), 1u);
    EXPECT_EQ(main.result.forced_gets[0],
              (LineList{"GET " + url(origin, "/c.gif") + " HTTP/1.0\r\n", "Vellum-Mode: GetOnly\r\n",
                        "Vellum-LocalPath: " + save.path() + "\r\n",
                        "If-Modified-Since: Sun, 06 Nov 1994 08:49:37 GMT\r\n", "User-Agent: UA\r\n", "\r\n"}));
}

TEST_F(OnlineTest, TheForcedGetRecordsEvenWhenOffline) {
    record.internet = false;
    OriginServer origin(OriginServer::answer("HTTP/1.0 200 OK\r\nContent-Type: image/gif\r\n\r\nGIF89a"));
    exchange("GET " + url(origin, "/c.gif") + " HTTP/1.0\r\nVellum-Mode: GetOnly\r\nVellum-LocalPath: " + save.path() +
                 "\r\nIf-Modified-Since: Sun, 06 Nov 1994 08:49:37 GMT\r\n\r\n",
             true);
    EXPECT_EQ(read_file(store_folder(origin) + "\\c.gif"), "GIF89a");
    ASSERT_EQ(origin.requests().size(), 1u);
    EXPECT_EQ(origin.requests()[0].find("If-Modified-Since"), std::string::npos) << "dropped for the crawler";
    EXPECT_EQ(origin.requests()[0].find("Vellum-"), std::string::npos);
}

TEST_F(OnlineTest, AStrangerCantRecordIntoAFolderOfItsChoosing) {
    // Online but not recording: the lines neither switch recording on nor
    // move the store, and the forced get queued for the 304 carries the save
    // folder alone, not the stranger's.
    testing::TempFolder elsewhere;
    OriginServer origin(OriginServer::answer("HTTP/1.0 304 Not Modified\r\n\r\n"));
    const std::string tail = "Vellum-Mode: RecMode\r\nVellum-LocalPath: " + elsewhere.path() + "\r\n";
    exchange("GET " + url(origin, "/p.html") + " HTTP/1.0\r\nVellum-Mode: GetOnly\r\n" + tail + "\r\n");
    EXPECT_TRUE(main.result.forced_gets.empty()) << "not recording: nothing to fetch again";
    EXPECT_EQ(list_folder(elsewhere.path()), std::vector<std::string>{});

    record.page_save = true;
    exchange("GET " + url(origin, "/p.html") + " HTTP/1.0\r\n" + tail +
             "If-Modified-Since: Sun, 06 Nov 1994 08:49:37 GMT\r\n\r\n");
    ASSERT_EQ(main.result.forced_gets.size(), 1u);
    EXPECT_EQ(main.result.forced_gets[0],
              (LineList{"GET " + url(origin, "/p.html") + " HTTP/1.0\r\n", "Vellum-Mode: GetOnly\r\n",
                        "Vellum-LocalPath: " + save.path() + "\r\n",
                        "If-Modified-Since: Sun, 06 Nov 1994 08:49:37 GMT\r\n", "\r\n"}));
    for (const std::string& sent : origin.requests()) EXPECT_EQ(sent.find("Vellum-"), std::string::npos) << sent;
    EXPECT_EQ(list_folder(elsewhere.path()), std::vector<std::string>{});
}

TEST_F(OnlineTest, ACutOffTransferKeepsTheOldPage) {
    record.page_save = true;
    OriginServer origin(OriginServer::answer("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: 10000\r\n\r\n" +
                                             std::string(3000, 'x')));
    const std::string host = "127.0.0.1%3A" + std::to_string(origin.port());
    record_page(host + "\\a.html", "old body", "(19941106084937 text%2Fhtml)");
    exchange("GET " + url(origin, "/a.html") + " HTTP/1.0\r\n\r\n");
    EXPECT_EQ(read_file(store_folder(origin) + "\\a.html"), "old body");
    EXPECT_EQ(list_folder(store_folder(origin)), (std::vector<std::string>{"a.html", "a.html(19941106084937 text%2Fhtml)"}));
    EXPECT_NE(main.result.status, 0);
}

TEST_F(OnlineTest, APageWhoseReceivingFileCantBeNamedIsRelayedUnrecorded) {
    record.page_save = true;
    OriginServer origin(OriginServer::answer("HTTP/1.0 200 OK\r\n\r\nlong"));
    // A store path of 255 bytes: the page fits, its receiving file would not.
    const std::string prefix = "http://127.0.0.1:" + std::to_string(origin.port()) + "/";
    const std::size_t host_part = store_folder(origin).size() + 1;
    const std::string name(255 - host_part, 'n');
    EXPECT_EQ(exchange("GET " + prefix + name + " HTTP/1.0\r\n\r\n"), "HTTP/1.0 200 OK\r\n\r\nlong");
    EXPECT_EQ(main.result.status, 0);
    EXPECT_EQ(log_text().find("*** "), std::string::npos) << log_text();
    EXPECT_NE(log_text().find("ページ保存：0\r\n"), std::string::npos);
}

TEST_F(OnlineTest, APostBodyIsForwardedWhole) {
    std::string body = "a=1&b=";
    body += std::string("\0\x81\x5C", 3);
    body += std::string(5000, 'z');
    OriginServer origin([&](SOCKET client, const std::string&) {
        std::string received;
        char buffer[4096];
        while (received.size() < body.size()) {
            int n = recv(client, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            received.append(buffer, static_cast<std::size_t>(n));
        }
        testing::send_all(client, "HTTP/1.0 200 OK\r\n\r\n" + std::string(received == body ? "same" : "different"));
    });
    std::string answer = exchange("POST " + url(origin, "/form") + " HTTP/1.0\r\nContent-Length: " +
                                  std::to_string(body.size()) + "\r\n\r\n" + body);
    EXPECT_EQ(answer, "HTTP/1.0 200 OK\r\n\r\nsame");
}

TEST_F(OnlineTest, RefusedConnectsAreTriedFiveTimes) {
    record.log_detail = false;
    // A port nobody listens on: bound once, then let go.
    UniqueSocket closed(socket(AF_INET, SOCK_STREAM, 0));
    int length = sizeof(sockaddr_in);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(closed.get(), reinterpret_cast<sockaddr*>(&any), sizeof any);
    getsockname(closed.get(), reinterpret_cast<sockaddr*>(&any), &length);
    const int port = ntohs(any.sin_port);
    closed.reset();
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(exchange("GET http://127.0.0.1:" + std::to_string(port) + "/ HTTP/1.0\r\n\r\n"), "");
    const ULONGLONG elapsed = GetTickCount64() - start;
    std::string five_refusals;
    for (int i = 0; i < 5; ++i) five_refusals += "*** connect エラー(10061) ***\r\n";
    EXPECT_EQ(log_text(), five_refusals);
    EXPECT_GE(elapsed, 4 * 500u - 50) << "four pauses of 500 ms";
    EXPECT_EQ(main.result.status, 1);
}

TEST_F(OnlineTest, UpstreamProxyGetsTheAbsoluteFormAndNamesItselfInTheErrorPage) {
    OriginServer upstream(OriginServer::answer("HTTP/1.0 200 OK\r\n\r\nvia proxy"));
    record.proxy.proxy = 1;
    record.proxy.address = "127.0.0.1";
    record.proxy.port = std::to_string(upstream.port());
    EXPECT_EQ(exchange("GET http://far.example/x HTTP/1.1\r\nHost: far.example\r\n\r\n"), "HTTP/1.0 200 OK\r\n\r\nvia proxy");
    EXPECT_EQ(upstream.requests().at(0), "GET http://far.example/x HTTP/1.0\r\nHost: far.example\r\n\r\n");

    main.refuse_server_socket = true;
    std::string page = exchange("GET http://far.example/x HTTP/1.0\r\n\r\n");
    EXPECT_EQ(page, "HTTP/1.0 502 Bad Gateway\r\nContent-Type: text/html\r\n"
                    "\r\n<HTML><HEAD><TITLE>Error</TITLE></HEAD><BODY><H1>Connect Error</H1>"
                    "<PRE>HOST : 127.0.0.1\r\nPORT : " + record.proxy.port + "</PRE>" + kProgramAddress);
}

TEST_F(OnlineTest, SetCookieAndChallengesGoToTheMainWindow) {
    OriginServer origin(OriginServer::answer("HTTP/1.0 401 Unauthorized\r\nSet-Cookie: a=1\r\nSet-Cookie: b=2; path=/\r\n"
                                             "WWW-Authenticate: Basic realm=\"r\"\r\n\r\n"));
    exchange("GET " + url(origin, "/secret") + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    ASSERT_EQ(main.result.cookies_set.size(), 2u);
    EXPECT_EQ(main.result.cookies_set[1], (LineList{"b=2; path=/", "127.0.0.1"}));
    ASSERT_EQ(main.result.auth_notes.size(), 1u);
    EXPECT_EQ(main.result.auth_notes[0].host, "127.0.0.1");
    EXPECT_EQ(main.result.auth_notes[0].challenge, "Basic realm=\"r\"");
}

TEST_F(OnlineTest, AnAbortMidTransferKeepsTheOldPageAndNoReceivingFile) {
    record.page_save = true;
    OriginServer origin([](SOCKET client, const std::string&) {
        testing::send_all(client, "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: 10000000\r\n\r\n");
        std::string chunk(65536, 'x');
        for (int i = 0; i < 150; ++i) {
            if (send(client, chunk.data(), static_cast<int>(chunk.size()), 0) <= 0) return;
        }
    });
    const std::string host = "127.0.0.1%3A" + std::to_string(origin.port());
    record_page(host + "\\big", "old body", "(19941106084937 text%2Fhtml)");
    main.on_progress = [](ConnectionRecord& r, int percent) {
        if (percent >= 10 && r.server_socket != INVALID_SOCKET) {
            // What the close sequence does: abort and close both sockets.
            PostThreadMessageA(r.thread_id, CTM_ABORT, 0, 0);
            closesocket(r.server_socket.exchange(INVALID_SOCKET));
            closesocket(r.client_socket.exchange(INVALID_SOCKET));
        }
    };
    exchange("GET " + url(origin, "/big") + " HTTP/1.0\r\n\r\n");
    EXPECT_EQ(read_file(store_folder(origin) + "\\big"), "old body");
    EXPECT_EQ(list_folder(store_folder(origin)), (std::vector<std::string>{"big", "big(19941106084937 text%2Fhtml)"}));
    EXPECT_NE(main.result.status, 0);
}

}  // namespace
}  // namespace vellum
