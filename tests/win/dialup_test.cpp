// Dial-up over a stand-in phone book and line: the four operations and the
// records they hand to RAS, the proxy's dial step as a browser and the
// crawler see it, and the hang-up question when the program exits.
#include "proxy/dialup_win.h"

#include <gtest/gtest.h>

#include <thread>

#include "proxy/connect_target.h"
#include "proxy/connection_handler_win.h"
#include "proxy/connection_record.h"
#include "proxy/own_connections_win.h"
#include "shell/settings.h"
#include "tests/support/fake_main_window_win.h"
#include "tests/support/fake_ras_win.h"
#include "tests/support/origin_server_win.h"
#include "tests/support/program_session_win.h"
#include "tests/support/socket_pair_win.h"
#include "tests/support/temp_folder_win.h"

namespace vellum {
namespace {

using testing::FakeRas;
using Names = std::vector<std::string>;

const HRASCONN kLineA = reinterpret_cast<HRASCONN>(0x11);
const HRASCONN kLineB = reinterpret_cast<HRASCONN>(0x22);

// --- the operations -------------------------------------------------------------

TEST(DialUp, TheRecordsAreTheOldVersions) {
    EXPECT_EQ(sizeof(RasDialParamsRecord), 1052u);
    EXPECT_EQ(sizeof(RasEntryNameRecord), 264u);
    EXPECT_EQ(sizeof(RasConnRecord), sizeof(void*) == 4 ? 412u : 424u);
}

TEST(DialUp, AnyLineUpCountsAsConnected) {
    FakeRas ras;
    EXPECT_FALSE(dialup_is_connected());
    ras.lines = {kLineA};
    EXPECT_TRUE(dialup_is_connected());
    // Asked with no buffer at all: the count alone decides.
    for (const FakeRas::Call& call : ras.calls()) EXPECT_EQ(call.record_size, 0u);
}

TEST(DialUp, DiallingWithALineUpDialsNothing) {
    FakeRas ras;
    ras.lines = {kLineA};
    EXPECT_TRUE(dialup_dial("other", "u", "p"));
    EXPECT_EQ(ras.call_names(), Names{"enum_connections"});
}

TEST(DialUp, DialHandsTheEntryAndLoginInTheOldRecord) {
    FakeRas ras;
    const std::string long_user(300, 'u');
    EXPECT_TRUE(dialup_dial("プロバイダ", long_user, "secret"));
    ASSERT_EQ(ras.call_names(), (Names{"enum_connections", "dial"}));
    const FakeRas::Call dial = ras.calls()[1];
    EXPECT_EQ(dial.record_size, 1052u);
    EXPECT_EQ(dial.entry, "プロバイダ");
    EXPECT_EQ(dial.user, std::string(256, 'u')) << "texts are cut at 256 bytes";
    EXPECT_EQ(dial.password, "secret");
    EXPECT_TRUE(dialup_is_connected());
}

TEST(DialUp, AFailedDialHangsUpWhatItBegan) {
    FakeRas ras;
    ras.dial_result = 691;  // the server refused the login
    EXPECT_FALSE(dialup_dial("isp", "u", "p"));
    ASSERT_EQ(ras.call_names(), (Names{"enum_connections", "dial", "hang_up"}));
    EXPECT_NE(ras.calls()[2].connection, nullptr);

    ras.forget_calls();
    ras.dial_leaves_handle = false;
    EXPECT_FALSE(dialup_dial("isp", "u", "p"));
    EXPECT_EQ(ras.call_names(), (Names{"enum_connections", "dial"}));
}

TEST(DialUp, HangingUpWithNoLineGivesZeroAndCallsNothingElse) {
    FakeRas ras;
    EXPECT_EQ(dialup_hang_up_all(), 0);
    EXPECT_EQ(ras.call_names(), Names{"enum_connections"});
}

TEST(DialUp, HangingUpTakesEveryLineOfTheMachine) {
    FakeRas ras;
    ras.lines = {kLineA, kLineB};
    EXPECT_EQ(dialup_hang_up_all(), 2);
    const std::vector<FakeRas::Call> calls = ras.calls();
    ASSERT_EQ(ras.call_names(), (Names{"enum_connections", "enum_connections", "hang_up", "hang_up"}));
    EXPECT_EQ(calls[1].record_size, sizeof(RasConnRecord));
    EXPECT_EQ(calls[2].connection, kLineA);
    EXPECT_EQ(calls[3].connection, kLineB);
    EXPECT_FALSE(dialup_is_connected());
}

TEST(DialUp, TheEndOfARunHangsUpOnlyWhenTheRunSaysSo) {
    FakeRas ras;
    ras.lines = {kLineA};
    EXPECT_EQ(dialup_hang_up_after_run(false), 0);
    EXPECT_TRUE(ras.calls().empty()) << "without the option RAS is not asked at all";
    EXPECT_EQ(dialup_hang_up_after_run(true), 1);
    EXPECT_TRUE(ras.lines.empty());
}

TEST(DialUp, ThePhoneBookInItsOrderWithSavedLogins) {
    FakeRas ras;
    DWORD count = 99;
    EXPECT_FALSE(dialup_list_entries(nullptr, count));
    EXPECT_EQ(count, 0u);

    ras.phone_book = {{"zeta", "zu", "zp"}, {"alpha", "au", ""}};
    EXPECT_TRUE(dialup_list_entries(nullptr, count));
    ASSERT_EQ(count, 2u);
    std::vector<RasDialParamsRecord> entries(count);
    ras.forget_calls();
    EXPECT_TRUE(dialup_list_entries(entries.data(), count));
    EXPECT_EQ(count, 2u);
    EXPECT_STREQ(entries[0].szEntryName, "zeta");
    EXPECT_STREQ(entries[0].szUserName, "zu");
    EXPECT_STREQ(entries[0].szPassword, "zp");
    EXPECT_STREQ(entries[1].szEntryName, "alpha");
    EXPECT_STREQ(entries[1].szUserName, "au");
    const std::vector<FakeRas::Call> calls = ras.calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].record_size, 264u);
    EXPECT_EQ(calls[1].record_size, 1052u);
    EXPECT_EQ(calls[1].entry, "zeta");
}

TEST(DialUp, AnEntryThatCantBeReadEndsTheListing) {
    FakeRas ras;
    ras.phone_book = {{"a", "1", ""}, {"b", "2", ""}, {"c", "3", ""}};
    ras.failing_params_index = 1;
    DWORD count = 3;
    std::vector<RasDialParamsRecord> entries(count);
    EXPECT_FALSE(dialup_list_entries(entries.data(), count));
    EXPECT_EQ(count, 1u) << "only the entries read before the failure";
    EXPECT_EQ(ras.call_names(), (Names{"enum_entries", "get_entry_dial_params", "get_entry_dial_params"}));
}

// --- the proxy's dial step --------------------------------------------------------

class ProxyDialTest : public ::testing::Test {
protected:
    testing::WinsockSession winsock;
    testing::TempFolder save;
    testing::FakeMainWindow main;
    FakeRas ras;
    ConnectionRecord record;
    testing::OriginServer origin{testing::OriginServer::answer(
        "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 2\r\n\r\nok")};

    void SetUp() override {
        record.save_folder = save.path();
        record.log_detail = true;
        record.internet = true;
        record.dialup = {1, "isp", "user", "pass"};
    }

    // `own`: the request comes from the program's crawler, whose connections
    // the proxy knows as its own.
    std::string get(const std::string& extra_lines = "", bool own = false) {
        auto pair = testing::make_socket_pair();
        record.client_socket = pair.near_end.release();
        if (own) {
            EXPECT_TRUE(announce_own_connection(pair.far_end.get()));
        }
        testing::send_all(pair.far_end.get(), "GET http://127.0.0.1:" + std::to_string(origin.port()) +
                                                  "/p HTTP/1.0\r\n" + extra_lines + "\r\n");
        shutdown(pair.far_end.get(), SD_SEND);
        std::string answer;
        std::thread browser([&] { answer = testing::receive_all(pair.far_end.get()); });
        main.run(record);
        browser.join();
        return answer;
    }

    // The dial-up lines of the log, in their order.
    std::string dial_lines() const {
        std::string lines;
        for (const std::string& line : main.result.log) {
            if (line.find("ダイアルアップ") != std::string::npos) lines += line;
        }
        return lines;
    }
};

TEST_F(ProxyDialTest, ALineAlreadyUpIsUsedAsItIs) {
    ras.lines = {kLineA};
    EXPECT_EQ(get(), "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 2\r\n\r\nok");
    EXPECT_EQ(dial_lines(), "ダイアルアップ接続をサポートします。\r\nダイアルアップ接続しています。\r\n");
    EXPECT_EQ(ras.call_names(), Names{"enum_connections"});
}

TEST_F(ProxyDialTest, TheLineIsDialledWithTheConnectionsSettings) {
    EXPECT_EQ(get().substr(0, 15), "HTTP/1.0 200 OK");
    EXPECT_EQ(dial_lines(), "ダイアルアップ接続をサポートします。\r\nダイアルアップ接続開始\r\n"
                            "ダイアルアップ接続しました。\r\n");
    const std::vector<FakeRas::Call> calls = ras.calls();
    ASSERT_EQ(ras.call_names(), (Names{"enum_connections", "enum_connections", "dial"}));
    EXPECT_EQ(calls[2].entry, "isp");
    EXPECT_EQ(calls[2].user, "user");
    EXPECT_EQ(calls[2].password, "pass");
}

TEST_F(ProxyDialTest, AFailedDialGivesTheBrowserTheDialUpErrorPage) {
    ras.dial_result = 678;  // no answer
    EXPECT_EQ(get(), "HTTP/1.0 502 Bad Gateway\r\nContent-Type: text/html\r\n"
                     "\r\n<HTML><HEAD><TITLE>Error</TITLE></HEAD><BODY><H1>DialUp Error</H1>"
                     "<HR><ADDRESS>Vellum 1.31b</ADDRESS></BODY></HTML>");
    EXPECT_EQ(main.result.status, 1);
    EXPECT_TRUE(origin.requests().empty());
    EXPECT_EQ(dial_lines(), "ダイアルアップ接続をサポートします。\r\nダイアルアップ接続開始\r\n"
                            "ダイアルアップ接続エラー\r\n");

    // The error line stands without the detail log too.
    record.log_detail = false;
    get();
    EXPECT_NE(main.result.log.join().find("ダイアルアップ接続エラー\r\n"), std::string::npos);
    EXPECT_EQ(main.result.log.join().find("ダイアルアップ接続開始"), std::string::npos);
}

TEST_F(ProxyDialTest, ATunnelDialsAsAnyOnlineRequestDoes) {
    record.tunnel_ports = parse_tunnel_ports(std::to_string(origin.port()));
    auto tunnel = [&] {
        auto pair = testing::make_socket_pair();
        record.client_socket = pair.near_end.release();
        testing::send_all(pair.far_end.get(), "CONNECT 127.0.0.1:" + std::to_string(origin.port()) +
                                                  " HTTP/1.0\r\n\r\nGET /p HTTP/1.0\r\n\r\n");
        shutdown(pair.far_end.get(), SD_SEND);
        std::string answer;
        std::thread browser([&] { answer = testing::receive_all(pair.far_end.get()); });
        main.run(record);
        browser.join();
        return answer;
    };
    EXPECT_EQ(tunnel(), "HTTP/1.0 200 Connection established\r\n\r\n"
                        "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 2\r\n\r\nok");
    EXPECT_EQ(ras.call_names(), (Names{"enum_connections", "enum_connections", "dial"}));
    EXPECT_EQ(dial_lines(), "ダイアルアップ接続をサポートします。\r\nダイアルアップ接続開始\r\n"
                            "ダイアルアップ接続しました。\r\n");

    ras.lines.clear();
    ras.dial_result = 678;
    const std::string failed = tunnel();
    EXPECT_EQ(failed.substr(0, failed.find("\r\n")), "HTTP/1.0 502 Bad Gateway");
    EXPECT_NE(failed.find("<H1>DialUp Error</H1>"), std::string::npos);
    EXPECT_EQ(main.result.status, 1);
}

TEST_F(ProxyDialTest, AFailedDialForTheCrawlerEndsWithoutLineOrAnswer) {
    ras.dial_result = 678;
    EXPECT_EQ(get("Vellum-Mode: RecMode\r\n", true), "");
    EXPECT_EQ(main.result.status, 1);
    EXPECT_EQ(main.result.log.join().find("ダイアルアップ接続エラー"), std::string::npos);
    EXPECT_TRUE(origin.requests().empty());
}

TEST_F(ProxyDialTest, WithSupportOffNoRasCallIsMade) {
    record.dialup.support = 0;
    EXPECT_EQ(get().substr(0, 15), "HTTP/1.0 200 OK");
    EXPECT_TRUE(ras.calls().empty());
    EXPECT_EQ(dial_lines(), "");
}

// --- the question at exit -----------------------------------------------------------

class ExitQuestionTest : public testing::ProgramSession {
protected:
    FakeRas ras;

    void SetUp() override {
        ProgramSession::SetUp();
        static int next_port = 28501;
        ASSERT_TRUE(start("127.0.0.1:" + std::to_string(next_port++)));
    }

    bool asked() const { return shown("ダイアルアップ接続を切断しますか？"); }
};

TEST_F(ExitQuestionTest, YesHangsUpEveryLine) {
    settings().dialUp.support = 1;
    ras.lines = {kLineA, kLineB};
    prompter.answer_yes = true;
    ASSERT_TRUE(close_program());
    ASSERT_TRUE(asked());
    const auto& box = prompter.shown.back();
    EXPECT_EQ(box.caption, "Vellum 1.31b");
    EXPECT_EQ(box.flags, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION | MB_SYSTEMMODAL));
    EXPECT_TRUE(ras.lines.empty());
}

TEST_F(ExitQuestionTest, NoLeavesTheLineUp) {
    settings().dialUp.support = 1;
    ras.lines = {kLineA};
    prompter.answer_yes = false;
    ASSERT_TRUE(close_program());
    EXPECT_TRUE(asked());
    EXPECT_EQ(ras.call_names(), Names{"enum_connections"});
    EXPECT_EQ(ras.lines.size(), 1u);
}

TEST_F(ExitQuestionTest, NoLineNoQuestion) {
    settings().dialUp.support = 1;
    ASSERT_TRUE(close_program());
    EXPECT_FALSE(asked());
}

TEST_F(ExitQuestionTest, SupportOffAsksNothingEvenWithALineUp) {
    settings().dialUp.support = 0;
    ras.lines = {kLineA};
    ASSERT_TRUE(close_program());
    EXPECT_FALSE(asked());
    EXPECT_TRUE(ras.calls().empty());
    EXPECT_EQ(ras.lines.size(), 1u);
}

}  // namespace
}  // namespace vellum
