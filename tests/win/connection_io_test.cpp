// The connection thread's primitives on real loopback sockets, real files and
// real thread queues.
#include "proxy/connection_io_win.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "base/format_win.h"
#include "base/messages.h"
#include "base/screen_pace.h"
#include "http/http_message.h"
#include "http/line_reader.h"
#include "proxy/server_stream_win.h"
#include "tests/support/socket_pair_win.h"

namespace vellum {
namespace {

using testing::make_socket_pair;
using testing::receive_all;
using testing::send_all;

class ConnectionIoTest : public ::testing::Test {
protected:
    testing::WinsockSession winsock;
};

// A window on the test thread that records what the connection side sends it.
class RecordingWindow {
public:
    RecordingWindow() {
        WNDCLASSA wc{};
        wc.lpfnWndProc = &RecordingWindow::procedure;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "VellumTestRecorder";
        RegisterClassA(&wc);
        window_ = CreateWindowA("VellumTestRecorder", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, this);
    }
    ~RecordingWindow() { DestroyWindow(window_); }
    HWND get() const { return window_; }

    std::vector<int> progress;       // MWM_PROGRESS percents
    std::vector<LPARAM> progress_flags;
    std::vector<int> debug_progress;  // LWM_SET_PROGRESS percents
    std::string last_text;            // LWM_SET_TEXT
    // Answers for posted requests: messages to post back to the sender's thread.
    std::vector<std::pair<UINT, WPARAM>> replies;
    DWORD reply_thread = 0;
    // Publishes what its "bar" shows, as the main window does.
    bool publishes = false;
    int bar = 0;

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
        if (message == WM_NCCREATE) {
            SetWindowLongPtrA(window, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lparam)->lpCreateParams));
        }
        auto* self = reinterpret_cast<RecordingWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self) {
            switch (message) {
            case MWM_PROGRESS:
                if (self->publishes) progress_bar_changing();
                self->progress.push_back(static_cast<int>(wparam));
                self->progress_flags.push_back(lparam);
                self->bar = static_cast<int>(wparam);
                if (self->publishes && lparam == 0) progress_bar_shows(window, self->bar);
                return 0;
            case LWM_SET_PROGRESS:
                self->debug_progress.push_back(static_cast<int>(wparam));
                return 0;
            case LWM_SET_TEXT:
                self->last_text = reinterpret_cast<const char*>(wparam);
                return 0;
            case MWM_OPEN_SERVER_SOCKET:
                for (auto [number, value] : self->replies) PostThreadMessageA(self->reply_thread, number, value, 0);
                return 0;
            }
        }
        return DefWindowProcA(window, message, wparam, lparam);
    }

    HWND window_;
};

HANDLE temp_file(const std::string& contents, DWORD access, std::string* path_out = nullptr) {
    char folder[MAX_PATH];
    char path[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    GetTempFileNameA(folder, "vel", 0, path);
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written;
    WriteFile(file, contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr);
    CloseHandle(file);
    if (path_out) *path_out = path;
    return CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

std::string pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('a' + i % 26);
    return bytes;
}

TEST_F(ConnectionIoTest, ReadLineOverASocket) {
    auto pair = make_socket_pair();
    std::string long_line = pattern(3000);
    send_all(pair.far_end.get(), long_line + std::string("\0x\r\n", 4) + "tail");
    pair.far_end.reset();  // the peer closes before ending its last line
    SocketSource source(pair.near_end.get());
    EXPECT_EQ(read_line(source, '\n'), long_line + "x\r\n");
    EXPECT_FALSE(read_line(source, '\n'));
}

TEST_F(ConnectionIoTest, RequestBodyAndTrailingLineEndFromASocket) {
    auto pair = make_socket_pair();
    send_all(pair.far_end.get(), "POST http://h/f HTTP/1.0\r\nContent-Length: 3\r\n\r\nabc\r\n");
    SocketSource source(pair.near_end.get());
    int status = 0;
    auto request = parse_request(source, status);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->body, "abc");
    EXPECT_EQ(wait_readable(pair.near_end.get(), 0), 0) << "the trailing CR LF was dropped";
}

TEST_F(ConnectionIoTest, HeaderArrivingInPiecesIsReadWholeAndTheBodyStaysInTheSocket) {
    auto pair = make_socket_pair();
    const std::string header = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: 4\r\n\r\n";
    // Whatever has arrived when the reader looks, it takes whole lines only.
    std::thread server([&] {
        for (std::size_t at = 0; at < header.size(); at += 7) {
            send_all(pair.far_end.get(), header.substr(at, 7));
            Sleep(1);
        }
        send_all(pair.far_end.get(), "body");
    });
    SocketSource source(pair.near_end.get());
    int status = 0;
    auto response = parse_response_header(source, status);
    server.join();
    ASSERT_TRUE(response);
    EXPECT_EQ(response->lines.join(), header);
    char body[8] = {};
    EXPECT_EQ(recv(pair.near_end.get(), body, sizeof body, 0), 4);
    EXPECT_STREQ(body, "body");
}

TEST_F(ConnectionIoTest, AnEarlierPeekStartsTheHeaderAndTheSocketGivesUpExactlyTheHeader) {
    auto pair = make_socket_pair();
    const std::string header = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: 4\r\n\r\n";
    // The first peek saw only part of the header; the rest came after it.
    send_all(pair.far_end.get(), header.substr(0, 20));
    char peeked[kHeaderPeekWindow];
    const int count = peek_prefix(pair.near_end.get(), "HTTP/", 5, peeked, kHeaderPeekWindow);
    ASSERT_EQ(count, 20);
    EXPECT_TRUE(starts_with_prefix(count, peeked, "HTTP/", 5));
    send_all(pair.far_end.get(), header.substr(20) + "body");
    SocketSource source(pair.near_end.get(), std::string_view(peeked, static_cast<std::size_t>(count)));
    int status = 0;
    auto response = parse_response_header(source, status);
    ASSERT_TRUE(response);
    EXPECT_EQ(response->lines.join(), header);
    char body[8] = {};
    EXPECT_EQ(recv(pair.near_end.get(), body, sizeof body, 0), 4);
    EXPECT_STREQ(body, "body");

    // A whole request with its body in the first peek: the same request and
    // body as from a fresh socket.
    auto second = make_socket_pair();
    send_all(second.far_end.get(), "POST http://h/f HTTP/1.0\r\nContent-Length: 3\r\n\r\nabc\r\n");
    Sleep(50);
    const int seen = peek_prefix(second.near_end.get(), "Vellum", 6, peeked, kHeaderPeekWindow);
    ASSERT_GT(seen, 0);
    EXPECT_FALSE(starts_with_prefix(seen, peeked, "Vellum", 6));
    SocketSource request_source(second.near_end.get(), std::string_view(peeked, static_cast<std::size_t>(seen)));
    auto request = parse_request(request_source, status);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->lines.join(), "POST http://h/f HTTP/1.0\r\nContent-Length: 3\r\n\r\n");
    EXPECT_EQ(request->body, "abc");
}

TEST_F(ConnectionIoTest, APrefixSplitOverTwoSegmentsIsWaitedFor) {
    auto pair = make_socket_pair();
    send_all(pair.far_end.get(), "HT");
    std::thread rest([&] {
        Sleep(30);
        send_all(pair.far_end.get(), "TP/1.0 200 OK\r\n");
    });
    char peeked[kHeaderPeekWindow];
    const int count = peek_prefix(pair.near_end.get(), "HTTP/", 5, peeked, kHeaderPeekWindow);
    rest.join();
    EXPECT_TRUE(starts_with_prefix(count, peeked, "HTTP/", 5)) << count;
    EXPECT_FALSE(starts_with_prefix(2, "HT", "HTTP/", 5));
}

TEST_F(ConnectionIoTest, SendHeaderLogsAndSends) {
    auto pair = make_socket_pair();
    ConnectionLog log;
    log.detail = true;
    EXPECT_EQ(send_header_to_client(pair.near_end.get(), LineList{"HTTP/1.0 200 OK\r\n", "\r\n"}, log), ConnectionStatus::ok);
    pair.near_end.reset();
    EXPECT_EQ(receive_all(pair.far_end.get()), "HTTP/1.0 200 OK\r\n\r\n");
    EXPECT_EQ(log.lines, (LineList{"レスポンスヘッダー(to Client)の内容 次の行から--->\r\n", "HTTP/1.0 200 OK\r\n", "\r\n",
                                   "<---ここまで\r\n", "レスポンスヘッダー(to Client)送信開始\r\n", "完了\r\n"}));
    ConnectionLog quiet;
    EXPECT_EQ(send_header_to_client(INVALID_SOCKET, LineList{"x"}, quiet), ConnectionStatus::ok);
    EXPECT_TRUE(quiet.lines.empty());
}

TEST_F(ConnectionIoTest, SendHeaderFailureIsLoggedEvenWithoutDetail) {
    auto pair = make_socket_pair();
    SOCKET dead = pair.near_end.release();
    closesocket(dead);
    ConnectionLog log;
    EXPECT_EQ(send_header_to_client(dead, LineList{"HTTP/1.0 200 OK\r\n"}, log), ConnectionStatus::socket_failed);
    EXPECT_EQ(log.lines, (LineList{"*** クライアントに送信出来ません！ ***\r\n"}));
}

// A browser relay's reports to the main window: some of what the relay
// computed, in order, none twice in a row; none at all when the relay ends
// within a screen frame.
::testing::AssertionResult paced_part_of(const std::vector<int>& reported, const std::vector<int>& every) {
    std::size_t at = 0;
    for (std::size_t i = 0; i < reported.size(); ++i) {
        if (i > 0 && reported[i] == reported[i - 1]) return ::testing::AssertionFailure() << "a repeat at " << i;
        while (at < every.size() && every[at] != reported[i]) ++at;
        if (at == every.size()) return ::testing::AssertionFailure() << reported[i] << " out of order at " << i;
        ++at;
    }
    return ::testing::AssertionSuccess();
}

// Paced reports: taken in order from what a relay in 1024-byte chunks would
// have reported, none twice in a row, and ending where it ended.
::testing::AssertionResult paced_from(const std::vector<int>& reported, const std::vector<int>& every) {
    if (reported.empty() || every.empty() || reported.back() != every.back()) {
        return ::testing::AssertionFailure() << "the bar does not end on " << (every.empty() ? -1 : every.back());
    }
    return paced_part_of(reported, every);
}

TEST_F(ConnectionIoTest, RelayServerToClientAndFileWithLimit) {
    auto server = make_socket_pair();
    auto client = make_socket_pair();
    const std::string body = pattern(2500);
    send_all(server.far_end.get(), body + "after the limit");
    std::string path;
    HANDLE file = temp_file("", GENERIC_READ | GENERIC_WRITE, &path);
    RecordingWindow main;
    ConnectionLog log;
    log.detail = true;
    log.main_window = main.get();
    RelayEnds ends;
    PlainServerStream server_stream(server.near_end.get());
    ends.source_stream = &server_stream;
    ends.client_socket = client.near_end.get();
    ends.destination_file = file;
    EXPECT_EQ(relay_body(ends, 2500, log, true), ConnectionStatus::ok);
    client.near_end.reset();
    EXPECT_EQ(receive_all(client.far_end.get()), body);
    // Not a byte past the limit is taken from the server, however large a read.
    server.far_end.reset();
    EXPECT_EQ(receive_all(server.near_end.get()), "after the limit");

    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    std::string stored(4000, '\0');
    DWORD read = 0;
    ReadFile(file, stored.data(), 4000, &read, nullptr);
    stored.resize(read);
    EXPECT_EQ(stored, body);
    CloseHandle(file);

    EXPECT_TRUE(paced_from(main.progress, {40, 81, 100}));
    EXPECT_EQ(main.progress_flags, std::vector<LPARAM>(main.progress.size(), 1));
    EXPECT_EQ(log.lines, (LineList{"通信開始（サーバー → ローカル → クライアント）\r\n", "完了\r\n", "通信量(byte)：2500\r\n"}));
}

TEST_F(ConnectionIoTest, RelayWithoutLimitCyclesProgress) {
    auto client = make_socket_pair();
    const std::string body = pattern(11 * 1024);
    HANDLE file = temp_file(body, GENERIC_READ);
    RecordingWindow main;
    RecordingWindow debug;
    ConnectionLog log;
    log.main_window = main.get();
    log.debug_window = debug.get();
    RelayEnds ends;
    ends.source_file = file;
    ends.client_socket = client.near_end.get();
    std::string received;
    std::thread reader([&] { received = receive_all(client.far_end.get()); });
    EXPECT_EQ(relay_body(ends, -1, log, false), ConnectionStatus::ok);
    client.near_end.reset();
    reader.join();
    CloseHandle(file);
    EXPECT_EQ(received, body);
    // Ten percent a kilobyte, from 100 round to 10 again, whatever one read brings.
    const std::vector<int> every{10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 10};
    EXPECT_TRUE(paced_from(debug.debug_progress, every));
    EXPECT_TRUE(paced_part_of(main.progress, every));
    EXPECT_EQ(main.progress_flags, std::vector<LPARAM>(main.progress.size(), 0));
    EXPECT_TRUE(log.lines.empty()) << "detail lines need the log flag";
}

// The percents a relay of `chunks` full chunks computes, with the repeats
// of consecutive chunks removed.
std::vector<int> distinct_percents(long long chunks) {
    std::vector<int> percents;
    for (long long done = 1; done <= chunks; ++done) {
        int percent = static_cast<int>(done * 100 / chunks);
        if (percents.empty() || percents.back() != percent) percents.push_back(percent);
    }
    return percents;
}

TEST_F(ConnectionIoTest, RepeatedPercentsOfALargeBodyAreNotSentAgain) {
    progress_bar_changing();
    auto client = make_socket_pair();
    const std::string body = pattern(300 * 1024);
    HANDLE file = temp_file(body, GENERIC_READ);
    RecordingWindow main;
    main.publishes = true;
    RecordingWindow debug;
    ConnectionLog log;
    log.main_window = main.get();
    log.debug_window = debug.get();
    RelayEnds ends;
    ends.source_file = file;
    ends.client_socket = client.near_end.get();
    std::string received;
    std::thread reader([&] { received = receive_all(client.far_end.get()); });
    EXPECT_EQ(relay_body(ends, static_cast<long long>(body.size()), log, false), ConnectionStatus::ok);
    client.near_end.reset();
    reader.join();
    CloseHandle(file);
    EXPECT_EQ(received, body);
    // 300 kilobytes, 101 different percents (0 through 100): what the bars
    // are told is taken from those in order, each at most once, at most one
    // per screen frame; the debug window's ends on 100.
    const std::vector<int> every = distinct_percents(300);
    ASSERT_EQ(every.size(), 101u);
    EXPECT_TRUE(paced_part_of(main.progress, every));
    EXPECT_TRUE(paced_from(debug.debug_progress, every));
    EXPECT_LT(main.progress.size(), every.size());
    // The end of the connection resets both bars.
    report_progress(log, 0, false);
    EXPECT_EQ(main.progress.back(), 0);
    EXPECT_EQ(debug.debug_progress.back(), 0);
}

TEST_F(ConnectionIoTest, ASlowBrowserRelayMovesTheMainBarAtTheScreensPace) {
    progress_bar_changing();
    auto server = make_socket_pair();
    auto client = make_socket_pair();
    constexpr int kChunks = 20;
    std::thread feeder([&] {
        for (int i = 0; i < kChunks; ++i) {
            send_all(server.far_end.get(), pattern(1024));
            Sleep(15);
        }
    });
    RecordingWindow main;
    main.publishes = true;
    ConnectionLog log;
    log.main_window = main.get();
    RelayEnds ends;
    PlainServerStream server_stream(server.near_end.get());
    ends.source_stream = &server_stream;
    ends.client_socket = client.near_end.get();
    std::string received;
    std::thread reader([&] { received = receive_all(client.far_end.get()); });
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(relay_body(ends, kChunks * 1024, log, false), ConnectionStatus::ok);
    const ULONGLONG lasted = GetTickCount64() - start;
    feeder.join();
    client.near_end.reset();
    reader.join();
    EXPECT_EQ(received.size(), static_cast<std::size_t>(kChunks * 1024));
    std::vector<int> every;
    for (int done = 1; done <= kChunks; ++done) every.push_back(done * 100 / kChunks);
    EXPECT_FALSE(main.progress.empty()) << "a relay of " << lasted << " ms moves the bar";
    EXPECT_TRUE(paced_part_of(main.progress, every));
    EXPECT_LE(main.progress.size(), lasted / kScreenPaceMs + 1);
}

TEST_F(ConnectionIoTest, AReportIsLeftOutOnlyWhileTheBarShowsIt) {
    progress_bar_changing();
    RecordingWindow main;
    main.publishes = true;
    ConnectionLog first, second;
    first.main_window = second.main_window = main.get();
    report_progress(first, 50, false);
    report_progress(first, 50, false);  // the bar shows 50: nothing to do
    report_progress(second, 30, false);
    report_progress(first, 50, false);  // another connection moved the bar: sent again
    EXPECT_EQ(main.progress, (std::vector<int>{50, 30, 50}));
    // Crawler reports drive the auto-get window too: always sent, and the
    // browser's next report after one is sent as well.
    report_progress(first, 50, true);
    report_progress(first, 50, true);
    report_progress(second, 50, false);
    EXPECT_EQ(main.progress, (std::vector<int>{50, 30, 50, 50, 50, 50}));
    EXPECT_EQ(main.progress_flags, (std::vector<LPARAM>{0, 0, 0, 1, 1, 0}));
    // Anything else that touches the bar withdraws what was published.
    progress_bar_changing();
    report_progress(second, 50, false);
    EXPECT_EQ(main.progress.size(), 7u);
    // A window that publishes nothing gets every report.
    RecordingWindow quiet;
    ConnectionLog third;
    third.main_window = quiet.get();
    report_progress(third, 20, false);
    report_progress(third, 20, false);
    EXPECT_EQ(quiet.progress, (std::vector<int>{20, 20}));
}

TEST_F(ConnectionIoTest, RelayLimitZeroAndEarlyClose) {
    auto server = make_socket_pair();
    auto client = make_socket_pair();
    ConnectionLog log;
    log.detail = true;
    RelayEnds ends;
    PlainServerStream server_stream(server.near_end.get());
    ends.source_stream = &server_stream;
    ends.client_socket = client.near_end.get();
    EXPECT_EQ(relay_body(ends, 0, log, false), ConnectionStatus::ok);
    EXPECT_EQ(log.lines.back(), "通信量(byte)：0\r\n");

    send_all(server.far_end.get(), pattern(3000));
    server.far_end.reset();  // the server stops after 3000 of 5000 bytes
    log.lines.clear();
    EXPECT_EQ(relay_body(ends, 5000, log, false), ConnectionStatus::ok);
    EXPECT_EQ(log.lines.back(), "通信量(byte)：3000\r\n");
}

TEST_F(ConnectionIoTest, FailingDestinationStillDeliversToTheClient) {
    auto server = make_socket_pair();
    auto client = make_socket_pair();
    const std::string body = pattern(3000);
    send_all(server.far_end.get(), body);
    server.far_end.reset();
    HANDLE read_only = temp_file("", GENERIC_READ);
    ConnectionLog log;
    RelayEnds ends;
    PlainServerStream server_stream(server.near_end.get());
    ends.source_stream = &server_stream;
    ends.client_socket = client.near_end.get();
    ends.destination_file = read_only;
    EXPECT_EQ(relay_body(ends, -1, log, false), ConnectionStatus::write_failed);
    CloseHandle(read_only);
    client.near_end.reset();
    EXPECT_EQ(receive_all(client.far_end.get()), body);
    EXPECT_EQ(log.lines, (LineList{"*** ローカルファイルライトエラー！ ***\r\n"})) << "logged once, even without detail";
}

TEST_F(ConnectionIoTest, RelayFailuresAndRefusals) {
    auto client = make_socket_pair();
    ConnectionLog log;
    log.detail = true;
    HANDLE a = temp_file("x", GENERIC_READ);
    HANDLE b = temp_file("", GENERIC_READ | GENERIC_WRITE);
    RelayEnds file_to_file;
    file_to_file.source_file = a;
    file_to_file.destination_file = b;
    EXPECT_EQ(relay_body(file_to_file, -1, log, false), ConnectionStatus::ok);
    EXPECT_TRUE(log.lines.empty());

    // The client has gone: the send fails.
    SOCKET gone = client.near_end.release();
    closesocket(gone);
    RelayEnds to_gone;
    to_gone.source_file = a;
    to_gone.client_socket = gone;
    EXPECT_EQ(relay_body(to_gone, -1, log, false), ConnectionStatus::socket_failed);
    EXPECT_EQ(log.lines.back(), "*** クライアントに本体を送信する際にソケットエラー発生！ ***\r\n");

    // A handle opened without read access fails to read.
    HANDLE write_only = temp_file("abc", GENERIC_WRITE);
    auto other = make_socket_pair();
    RelayEnds unreadable;
    unreadable.source_file = write_only;
    unreadable.client_socket = other.near_end.get();
    EXPECT_EQ(relay_body(unreadable, -1, log, false), ConnectionStatus::read_failed);
    EXPECT_EQ(log.lines.back(), "*** ローカルファイルリードエラー！ ***\r\n");
    CloseHandle(a);
    CloseHandle(b);
    CloseHandle(write_only);
}

TEST_F(ConnectionIoTest, LogMirrorsIntoTheDebugWindow) {
    RecordingWindow debug;
    ConnectionLog log;
    log.detail = false;
    log.debug_window = debug.get();
    log_detail(log, "hidden\r\n");
    EXPECT_EQ(debug.last_text, "");
    log_error(log, "*** a ***\r\n");
    log_lines(log, true, LineList{"b\r\n", "c\r\n"});
    EXPECT_EQ(debug.last_text, "*** a ***\r\nb\r\nc\r\n");
}

// Dispatches this thread's messages until `done` is set by a worker.
void pump_until(const std::atomic<bool>& done) {
    while (!done.load()) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        Sleep(1);
    }
}

// ask_ui from a real worker thread to a real window on this thread.
struct AskResult {
    std::optional<WPARAM> reply;
    bool aborted = false;
};

AskResult ask_from_worker(RecordingWindow& main, UINT message) {
    AskResult result;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        ensure_thread_queue();
        main.reply_thread = GetCurrentThreadId();
        result.reply = ask_ui(main.get(), message, 0, 0, result.aborted);
        done = true;
    });
    pump_until(done);
    worker.join();
    return result;
}

TEST(AskUi, ReplyIsMatchedByNumber) {
    RecordingWindow main;
    main.replies = {{MWM_COOKIE_GET, 7}, {WM_USER + 99, 8}, {MWM_OPEN_SERVER_SOCKET, 42}};
    AskResult result = ask_from_worker(main, MWM_OPEN_SERVER_SOCKET);
    EXPECT_EQ(result.reply, 42u);
    EXPECT_FALSE(result.aborted);
}

TEST(AskUi, AbortWhileWaitingIsRememberedAndTheReplyStillTaken) {
    RecordingWindow main;
    main.replies = {{CTM_ABORT, 0}, {MWM_OPEN_SERVER_SOCKET, 5}};
    AskResult result = ask_from_worker(main, MWM_OPEN_SERVER_SOCKET);
    EXPECT_EQ(result.reply, 5u);
    EXPECT_TRUE(result.aborted);
}

TEST(AskUi, AbortPendingBeforeTheRequestIsRemembered) {
    RecordingWindow main;
    main.replies = {{MWM_OPEN_SERVER_SOCKET, 1}};
    AskResult result;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        ensure_thread_queue();
        PostThreadMessageA(GetCurrentThreadId(), CTM_ABORT, 0, 0);
        main.reply_thread = GetCurrentThreadId();
        result.reply = ask_ui(main.get(), MWM_OPEN_SERVER_SOCKET, 0, 0, result.aborted);
        done = true;
    });
    pump_until(done);
    worker.join();
    EXPECT_EQ(result.reply, 1u);
    EXPECT_TRUE(result.aborted);
}

TEST(AskUi, AbortPendingEmptiesTheQueue) {
    std::thread worker([] {
        ensure_thread_queue();
        DWORD self = GetCurrentThreadId();
        EXPECT_FALSE(abort_pending());
        PostThreadMessageA(self, WM_USER + 5, 0, 0);
        PostThreadMessageA(self, CTM_ABORT, 0, 0);
        PostThreadMessageA(self, WM_USER + 6, 0, 0);
        EXPECT_TRUE(abort_pending());
        MSG msg;
        EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
        EXPECT_FALSE(abort_pending()) << "an abort found by the check is not remembered";
    });
    worker.join();
}

}  // namespace
}  // namespace vellum

namespace vellum {
namespace {

TEST(FormatText, CutsAtTheFormattersLimitWithoutItsTerminator) {
    const std::string line = format_text("<PRE>Client request : %s</PRE>", std::string(3000, 'u').c_str());
    EXPECT_EQ(line.size(), 1023u);
    EXPECT_EQ(line.find('\0'), std::string::npos);
    EXPECT_EQ(line.substr(0, 22), "<PRE>Client request : ");
    EXPECT_EQ(format_text("通信ｽﾚｯﾄﾞ %d", 3), "通信ｽﾚｯﾄﾞ 3");
}

}  // namespace
}  // namespace vellum
