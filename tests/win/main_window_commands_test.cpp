// The request tree, the commands, the tray icon and the log windows of the
// real main window, driven through the messages a connection thread, the
// shell or the user sends: the program's own connections post their tree
// reports, any other sender asks (1070, 1071) and waits for the answer.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "autoget/autoget_window.h"
#include "base/messages.h"
#include "proxy/connection_io_win.h"
#include "proxy/connection_record.h"
#include "proxy/ui_requests.h"
#include "resources/resource.h"
#include "base/icons_win.h"
#include "tests/support/program_session_win.h"
#include "tests/support/socket_pair_win.h"
#include "tests/support/temp_folder_win.h"

namespace vellum {
namespace {

// A connection thread stand-in: runs `body` on its own thread with a message
// queue, as the record's thread.
class Worker {
public:
    Worker(ConnectionRecord& record, std::function<void()> body)
        : thread_([this, &record, body = std::move(body)] {
              ensure_thread_queue();
              record.thread_id = GetCurrentThreadId();
              body();
              done = true;
          }) {}
    ~Worker() { thread_.join(); }

    std::atomic<bool> done{false};

private:
    std::thread thread_;
};

std::unique_ptr<ProxyRequest> make_request(const std::string& method, const std::string& url,
                                           const std::string& referer = "", bool crawler = false) {
    auto request = std::make_unique<ProxyRequest>();
    request->lines.append(method + " " + url + " HTTP/1.0\r\n");
    if (!referer.empty()) request->lines.append("Referer: " + referer + "\r\n");
    request->lines.append("\r\n");
    request->method = method;
    request->url = url;
    request->version = "HTTP/1.0";
    request->parsed_url = parse_url(url).value_or(ParsedUrl{});
    if (!referer.empty()) {
        request->referer = referer;
        request->parsed_referer = parse_url(referer);
    }
    request->autoget_mark = crawler;
    return request;
}

// MWM_REQUEST_ADD as a sender outside the program makes it: the node, or
// nullptr, when the request stays the sender's.
RequestNode* ask_request_add(HWND window, ConnectionRecord& record, std::unique_ptr<ProxyRequest>& request) {
    bool aborted = false;
    const std::optional<WPARAM> node = ask_ui(window, MWM_REQUEST_ADD, reinterpret_cast<WPARAM>(&record),
                                              reinterpret_cast<LPARAM>(request.get()), aborted);
    if (!node || !*node) return nullptr;
    request.release();  // the tree keeps it
    return reinterpret_cast<RequestNode*>(*node);
}

void ask_request_done(HWND window, RequestDoneBlock& block) {
    bool aborted = false;
    ask_ui(window, MWM_REQUEST_DONE, reinterpret_cast<WPARAM>(&block), 0, aborted);
}

bool readable_now(SOCKET s) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval none{0, 0};
    return select(0, &readable, nullptr, nullptr, &none) == 1;
}

struct ItemView {
    std::string text;
    int state = -1;
    RequestNode* node = nullptr;
};

// Watches for a popup menu of the test thread from another thread; when one
// shows, records its state and answers it with `key` (a mnemonic character
// or, by default, Escape), so that a menu never waits for a person.
class MenuWatch {
public:
    MenuWatch(HWND owner, char mnemonic = 0) {
        thread_ = std::thread([this, owner, mnemonic] {
            while (!stop_) {
                HWND menu = FindWindowA("#32768", nullptr);
                if (menu && IsWindowVisible(menu)) {
                    opened = true;
                    HMENU handle = reinterpret_cast<HMENU>(SendMessageA(menu, MN_GETHMENU, 0, 0));
                    if (handle) log_item_grayed = (GetMenuState(handle, ID_REQUEST_LOG, MF_BYCOMMAND) & MF_GRAYED) != 0;
                    if (mnemonic) {
                        PostMessageA(owner, WM_CHAR, static_cast<WPARAM>(mnemonic), 0);
                    } else {
                        PostMessageA(owner, WM_KEYDOWN, VK_ESCAPE, 0);
                    }
                    return;
                }
                Sleep(20);
            }
        });
    }
    ~MenuWatch() { finish(); }
    void finish() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }

    std::atomic<bool> opened{false};
    std::atomic<bool> log_item_grayed{false};

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class MainWindowCommandsTest : public testing::ProgramSession {
protected:
    void SetUp() override {
        ProgramSession::SetUp();
        static int next_port = 28301;
        ASSERT_TRUE(start("127.0.0.1:" + std::to_string(next_port++)));
        tree = main().tree_view();
        record.main_window = window;
    }

    // MWM_REQUEST_ADD from a connection thread; the node, or nullptr (then
    // the request is freed here, as the thread would).
    RequestNode* add(std::unique_ptr<ProxyRequest> request, ConnectionRecord* from = nullptr) {
        ConnectionRecord& r = from ? *from : record;
        RequestNode* node = nullptr;
        Worker worker(r, [&] { node = ask_request_add(window, r, request); });
        EXPECT_TRUE(pump_until([&] { return worker.done.load(); }));
        return node;
    }

    RequestDoneBlock done_block(RequestNode* node, int content_class, int status, int response_code,
                                LineList log = {}) {
        RequestDoneBlock block;
        block.record = &record;
        block.node = node;
        block.result.log = std::move(log);
        block.result.content_class = content_class;
        block.result.response_code = response_code;
        block.result.status = static_cast<ConnectionStatus>(status);
        return block;
    }

    void finish(RequestNode* node, int content_class = 2, int response_code = 200, LineList log = {}) {
        RequestDoneBlock block = done_block(node, content_class, 0, response_code, std::move(log));
        Worker worker(record, [&] { ask_request_done(window, block); });
        EXPECT_TRUE(pump_until([&] { return worker.done.load(); }));
    }

    RequestNode* page(const std::string& url, const std::string& referer = "") {
        RequestNode* node = add(make_request("GET", url, referer));
        finish(node);
        return node;
    }

    std::vector<HTREEITEM> children(HTREEITEM parent = TVI_ROOT) {
        std::vector<HTREEITEM> items;
        HTREEITEM item = parent == TVI_ROOT ? TreeView_GetRoot(tree) : TreeView_GetChild(tree, parent);
        for (; item; item = TreeView_GetNextSibling(tree, item)) items.push_back(item);
        return items;
    }

    ItemView view(HTREEITEM item) {
        char text[1024] = {};
        TVITEMA query{};
        query.mask = TVIF_TEXT | TVIF_STATE | TVIF_PARAM;
        query.stateMask = TVIS_STATEIMAGEMASK;
        query.hItem = item;
        query.pszText = text;
        query.cchTextMax = sizeof text;
        SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&query));
        return {text, static_cast<int>((query.state & TVIS_STATEIMAGEMASK) >> 12),
                reinterpret_cast<RequestNode*>(query.lParam)};
    }

    std::vector<std::string> top_labels() {
        std::vector<std::string> labels;
        for (HTREEITEM item : children()) labels.push_back(view(item).text);
        return labels;
    }

    LRESULT notify_tree(UINT code) {
        NMHDR header{tree, IDC_REQUEST_TREE, code};
        return SendMessageA(window, WM_NOTIFY, IDC_REQUEST_TREE, reinterpret_cast<LPARAM>(&header));
    }

    LRESULT press_in_tree(WORD key) {
        NMTVKEYDOWN down{};
        down.hdr = NMHDR{tree, IDC_REQUEST_TREE, static_cast<UINT>(TVN_KEYDOWN)};
        down.wVKey = key;
        return SendMessageA(window, WM_NOTIFY, IDC_REQUEST_TREE, reinterpret_cast<LPARAM>(&down));
    }

    // MWM_PROGRESS sent by a connection thread: it waits until it was handled.
    void send_progress(int percent, LPARAM crawler) {
        std::atomic<bool> sent{false};
        std::thread sender([&] {
            SendMessageA(window, MWM_PROGRESS, static_cast<WPARAM>(percent), crawler);
            sent = true;
        });
        EXPECT_TRUE(pump_until([&] { return sent.load(); }));
        sender.join();
    }

    // A connection's tree reports, posted from its thread as the program's
    // connections make them: the ticket, or 0 when the post failed.
    RequestTicket report_begun(ConnectionRecord& from, std::shared_ptr<const ProxyRequest> request) {
        RequestTicket ticket = 0;
        Worker worker(from, [&] { ticket = UiLink(window, from).request_begun(std::move(request)).value_or(0); });
        while (!worker.done) Sleep(1);
        return ticket;
    }

    void report_ended(ConnectionRecord& from, RequestTicket ticket, int content_class, ConnectionStatus status,
                      int response_code, LineList log = {}) {
        auto ended = std::make_unique<RequestEnded>();
        ended->ticket = ticket;
        ended->result.content_class = content_class;
        ended->result.status = status;
        ended->result.response_code = response_code;
        ended->result.log = std::move(log);
        Worker worker(from, [&] { UiLink(window, from).request_ended(std::move(ended)); });
        while (!worker.done) Sleep(1);
    }

    // Handles what was posted so far.
    void handle_posted() {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }

    void select(RequestNode* node) { TreeView_SelectItem(tree, static_cast<HTREEITEM>(node->item)); }

    // The context menu asked for from the keyboard (it opens at the tree's corner).
    void context_menu_from_keyboard() {
        SendMessageA(window, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(tree), static_cast<LPARAM>(-1));
    }

    HWND tree = nullptr;
    ConnectionRecord record;
};

TEST_F(MainWindowCommandsTest, RequestsShowUnderTheirPageWithTheirOutcome) {
    RequestNode* index = add(make_request("GET", "http://h/a/index.html"));
    ASSERT_TRUE(index);
    ASSERT_EQ(children().size(), 1u);
    ItemView shown = view(children()[0]);
    EXPECT_EQ(shown.text, "http://h/a/index.html");
    EXPECT_EQ(shown.state, 2);  // in progress
    EXPECT_EQ(shown.node, index);

    RequestNode* image = add(make_request("GET", "http://h/a/img/x.gif", "http://h/a/index.html"));
    RequestNode* other = add(make_request("GET", "http://h/b/y.gif", "http://h/a/index.html"));
    RequestNode* missing = add(make_request("GET", "http://h/a/gone.html", "http://h/a/index.html"));
    finish(image, 3, 200);
    finish(other, 1, 200);
    finish(missing, 0, 404);
    finish(index, 2, 200);

    const std::vector<HTREEITEM> under = children(children()[0]);
    ASSERT_EQ(under.size(), 3u);
    EXPECT_EQ(view(under[0]).text, "img/x.gif");
    EXPECT_EQ(view(under[0]).state, 7);
    EXPECT_EQ(view(under[1]).text, "/b/y.gif");
    EXPECT_EQ(view(under[1]).state, 6);
    EXPECT_EQ(view(under[2]).state, 11);
    EXPECT_EQ(view(children()[0]).state, 1);

    // An abnormal end shows the red cross whatever the answer was.
    RequestNode* failed = add(make_request("GET", "http://other/"));
    RequestDoneBlock block = done_block(failed, 2, 100, 200);
    Worker worker(record, [&] { ask_request_done(window, block); });
    ASSERT_TRUE(pump_until([&] { return worker.done.load(); }));
    EXPECT_EQ(view(children()[1]).state, 3);
}

TEST_F(MainWindowCommandsTest, ElevenFinishedPagesLeaveTen) {
    for (int i = 0; i < 11; ++i) page("http://h/" + std::to_string(i) + ".html");
    const std::vector<std::string> labels = top_labels();
    ASSERT_EQ(labels.size(), 10u);
    EXPECT_EQ(labels.front(), "http://h/1.html");
    EXPECT_EQ(labels.back(), "http://h/10.html");
}

TEST_F(MainWindowCommandsTest, APageStillLoadingIsNeverPruned) {
    RequestNode* loading = add(make_request("GET", "http://h/slow.html"));
    ASSERT_TRUE(loading);
    for (int i = 0; i < 12; ++i) page("http://h/" + std::to_string(i) + ".html");
    std::vector<std::string> labels = top_labels();
    ASSERT_EQ(labels.size(), 11u);
    EXPECT_EQ(labels.front(), "http://h/slow.html");
    finish(loading);
    EXPECT_EQ(top_labels().size(), 10u);
}

TEST_F(MainWindowCommandsTest, FollowingALinkFromAnOlderPageMovesItDownWithItsChildren) {
    page("http://h/a.html");
    page("http://h/a1.gif", "http://h/a.html");
    page("http://h/b.html");
    RequestNode* followed = add(make_request("GET", "http://h/c.html", "http://h/a.html"));
    ASSERT_TRUE(followed);

    EXPECT_EQ(top_labels(), (std::vector<std::string>{"http://h/b.html", "http://h/a.html"}));
    const std::vector<HTREEITEM> under = children(children()[1]);
    ASSERT_EQ(under.size(), 2u);
    EXPECT_EQ(view(under[0]).text, "a1.gif");
    EXPECT_EQ(view(under[0]).state, 1);  // the rebuilt item keeps its outcome
    EXPECT_EQ(view(under[1]).text, "c.html");
    EXPECT_EQ(view(under[1]).node, followed);
    EXPECT_EQ(view(under[1]).state, 2);
}

TEST_F(MainWindowCommandsTest, CrawlerRequestsStayOutOfTheTreeUnlessShown) {
    settings().recTreePut = 0;
    ConnectionRecord crawler;
    crawler.main_window = window;
    crawler.autoget_connection = true;
    EXPECT_EQ(add(make_request("GET", "http://h/crawled.html", "", true), &crawler), nullptr);
    EXPECT_TRUE(children().empty());

    // The crawler's progress goes to the auto-get window only.
    send_progress(40, 1);
    EXPECT_EQ(SendMessageA(main().progress_bar(), PBM_GETPOS, 0, 0), 0);
    send_progress(30, 0);
    EXPECT_EQ(SendMessageA(main().progress_bar(), PBM_GETPOS, 0, 0), 30);

    SendMessageA(window, WM_COMMAND, ID_SHOW_AUTOGET_REQUESTS, 0);
    EXPECT_EQ(settings().recTreePut, 1u);
    EXPECT_EQ(GetMenuState(GetMenu(window), ID_SHOW_AUTOGET_REQUESTS, MF_BYCOMMAND) & MF_CHECKED,
              static_cast<UINT>(MF_CHECKED));
    RequestNode* shown = add(make_request("GET", "http://h/crawled.html", "", true), &crawler);
    ASSERT_TRUE(shown);
    EXPECT_EQ(view(children()[0]).state, 15);
    send_progress(70, 1);
    EXPECT_EQ(SendMessageA(main().progress_bar(), PBM_GETPOS, 0, 0), 70);

    // Turned off again, the bar is emptied.
    SendMessageA(window, WM_COMMAND, ID_SHOW_AUTOGET_REQUESTS, 0);
    EXPECT_EQ(SendMessageA(main().progress_bar(), PBM_GETPOS, 0, 0), 0);
    finish(shown);
}

// A connection thread's progress reports, as relay_body makes them.
TEST_F(MainWindowCommandsTest, TheBarAlwaysShowsAConnectionsLastReport) {
    settings().recTreePut = 1;
    ConnectionLog log;
    log.main_window = window;
    auto report = [&](int percent, bool crawler) {
        std::atomic<bool> sent{false};
        std::thread sender([&] {
            report_progress(log, percent, crawler);
            sent = true;
        });
        EXPECT_TRUE(pump_until([&] { return sent.load(); }));
        sender.join();
        return SendMessageA(main().progress_bar(), PBM_GETPOS, 0, 0);
    };
    EXPECT_EQ(report(30, false), 30);
    EXPECT_EQ(report(30, false), 30);
    // A crawler's report moves the shared bar; the browser's same percent
    // must come back.
    EXPECT_EQ(report(70, true), 70);
    EXPECT_EQ(report(30, false), 30);
    // Hiding the crawler's requests empties the bar: again the same percent
    // must come back.
    SendMessageA(window, WM_COMMAND, ID_SHOW_AUTOGET_REQUESTS, 0);
    EXPECT_EQ(SendMessageA(main().progress_bar(), PBM_GETPOS, 0, 0), 0);
    EXPECT_EQ(report(30, false), 30);
}

TEST_F(MainWindowCommandsTest, ARequestCommandParksTreeRequestsAndAnswersThemAfterwards) {
    RequestNode* post = add(make_request("POST", "http://h/form"));
    finish(post);
    RequestNode* loading = add(make_request("GET", "http://h/loading.html"));
    ASSERT_TRUE(loading);

    ConnectionRecord adder;
    adder.main_window = window;
    auto later = make_request("GET", "http://h/later.html");
    RequestNode* later_node = nullptr;
    RequestDoneBlock block = done_block(loading, 2, 0, 200);
    std::unique_ptr<Worker> adding, finishing;
    bool parked_while_running = false;

    // The reservation refuses the POST with a warning; while that box is up,
    // both requests arrive and must wait.
    prompter.on_show = [&] {
        adding = std::make_unique<Worker>(adder, [&] { later_node = ask_request_add(window, adder, later); });
        finishing = std::make_unique<Worker>(record, [&] { ask_request_done(window, block); });
        parked_while_running = pump_until([&] {
            return adder.deferred_message.message == MWM_REQUEST_ADD &&
                   record.deferred_message.message == MWM_REQUEST_DONE;
        });
        EXPECT_FALSE(adding->done);
        EXPECT_FALSE(finishing->done);
        EXPECT_EQ(children().size(), 2u);
    };
    select(post);
    EXPECT_EQ(notify_tree(NM_DBLCLK), 1);  // handled: no expanding or collapsing
    prompter.on_show = nullptr;
    EXPECT_TRUE(shown("リクエストメソッドが「GET」ではないので、自動取得に予約できません！"));
    EXPECT_TRUE(parked_while_running);

    ASSERT_TRUE(pump_until([&] { return adding->done && finishing->done; }));
    ASSERT_TRUE(later_node);
    EXPECT_FALSE(later);  // the tree keeps it
    EXPECT_FALSE(adder.deferred_message);
    EXPECT_FALSE(record.deferred_message);
    EXPECT_EQ(top_labels(), (std::vector<std::string>{"http://h/form", "http://h/loading.html", "http://h/later.html"}));
    EXPECT_EQ(view(children()[1]).state, 1);
}

TEST_F(MainWindowCommandsTest, PostedReportsShowARequestUnderItsPageWithItsOutcomeAndLog) {
    auto index = std::shared_ptr<const ProxyRequest>(make_request("GET", "http://h/a/index.html"));
    const RequestTicket page_ticket = report_begun(record, index);
    ConnectionRecord second;
    second.main_window = window;
    const RequestTicket image_ticket =
        report_begun(second, make_request("GET", "http://h/a/img/x.gif", "http://h/a/index.html"));
    ASSERT_NE(page_ticket, 0u);
    ASSERT_NE(image_ticket, page_ticket);
    handle_posted();
    ASSERT_EQ(top_labels(), std::vector<std::string>{"http://h/a/index.html"});
    ItemView page = view(children()[0]);
    EXPECT_EQ(page.state, 2);  // in progress
    ASSERT_TRUE(page.node);
    EXPECT_EQ(page.node->request, index) << "the tree shares the connection's request";
    ASSERT_EQ(children(children()[0]).size(), 1u);
    EXPECT_EQ(view(children(children()[0])[0]).text, "img/x.gif");

    // Each end finds its own node, whatever order they come in.
    report_ended(record, page_ticket, 2, ConnectionStatus::ok, 200, LineList{"page\r\n"});
    report_ended(second, image_ticket, 3, ConnectionStatus::aborted, 200);
    handle_posted();
    EXPECT_EQ(view(children()[0]).state, 1);
    EXPECT_EQ(view(children(children()[0])[0]).state, 3) << "an abnormal end is the red cross";
    ASSERT_TRUE(page.node->log);
    EXPECT_EQ(page.node->log->join(), "page\r\n");

    // An end nobody began (or a second end) changes nothing.
    report_ended(record, page_ticket, 0, ConnectionStatus::aborted, 404);
    handle_posted();
    EXPECT_EQ(view(children()[0]).state, 1);
}

TEST_F(MainWindowCommandsTest, PostedReportsOfARequestNotShownAreDropped) {
    settings().recTreePut = 0;
    ConnectionRecord crawler;
    crawler.main_window = window;
    crawler.autoget_connection = true;
    const RequestTicket crawled = report_begun(crawler, make_request("GET", "http://h/crawled.html", "", true));
    handle_posted();
    EXPECT_TRUE(children().empty());

    // Minimised, the browser's requests stay out as well.
    ShowWindow(window, SW_MINIMIZE);
    const RequestTicket hidden = report_begun(record, make_request("GET", "http://h/hidden.html"));
    handle_posted();
    ShowWindow(window, SW_RESTORE);
    EXPECT_TRUE(children().empty());
    report_ended(crawler, crawled, 2, ConnectionStatus::ok, 200);
    report_ended(record, hidden, 2, ConnectionStatus::ok, 200);
    const RequestTicket shown = report_begun(record, make_request("GET", "http://h/shown.html"));
    handle_posted();
    EXPECT_EQ(top_labels(), std::vector<std::string>{"http://h/shown.html"});
    report_ended(record, shown, 2, ConnectionStatus::ok, 200);
    handle_posted();
    EXPECT_EQ(view(children()[0]).state, 1);
}

TEST_F(MainWindowCommandsTest, PostedReportsWaitForARequestCommandAndComeInTheirOrder) {
    RequestNode* post = add(make_request("POST", "http://h/form"));
    finish(post);
    // The connection may be long gone when its reports are handled.
    auto gone = std::make_unique<ConnectionRecord>();
    gone->main_window = window;
    bool unchanged_while_running = false;
    prompter.on_show = [&] {
        const RequestTicket quick = report_begun(*gone, make_request("GET", "http://h/quick.html"));
        report_ended(*gone, quick, 2, ConnectionStatus::ok, 200, LineList{"done\r\n"});
        gone.reset();
        handle_posted();
        unchanged_while_running = top_labels() == std::vector<std::string>{"http://h/form"};
    };
    select(post);
    EXPECT_EQ(notify_tree(NM_DBLCLK), 1);
    prompter.on_show = nullptr;
    EXPECT_TRUE(unchanged_while_running);
    ASSERT_EQ(top_labels(), (std::vector<std::string>{"http://h/form", "http://h/quick.html"}));
    ItemView quick = view(children()[1]);
    EXPECT_EQ(quick.state, 1) << "its end came after its beginning";
    ASSERT_TRUE(quick.node && quick.node->log);
    EXPECT_EQ(quick.node->log->join(), "done\r\n");
}

TEST_F(MainWindowCommandsTest, UnfinishedRequestsTakeNoCommands) {
    RequestNode* loading = add(make_request("POST", "http://h/upload"));
    select(loading);
    EXPECT_EQ(notify_tree(NM_DBLCLK), 0);
    EXPECT_EQ(press_in_tree(VK_RETURN), 0);
    MenuWatch watch(window);
    context_menu_from_keyboard();
    watch.finish();
    EXPECT_FALSE(watch.opened);
    EXPECT_TRUE(prompter.shown.empty());

    finish(loading);
    EXPECT_EQ(press_in_tree(VK_RETURN), 1);
    EXPECT_TRUE(shown("リクエストメソッドが「GET」ではないので、自動取得に予約できません！"));
}

TEST_F(MainWindowCommandsTest, ContextMenuShowsTheLogOfTheRequest) {
    RequestNode* quiet = page("http://h/quiet.html");  // no log lines at all
    select(quiet);
    {
        MenuWatch watch(window);
        context_menu_from_keyboard();
        watch.finish();
        EXPECT_TRUE(watch.opened);
        EXPECT_TRUE(watch.log_item_grayed);
    }

    RequestNode* logged = add(make_request("GET", "http://h/logged.html"));
    finish(logged, 2, 200, LineList{"first\r\n", "second\r\n"});
    select(logged);
    MenuWatch watch(window, 'l');  // ログ表示(&L)
    context_menu_from_keyboard();
    watch.finish();
    EXPECT_FALSE(watch.log_item_grayed);
    HWND log = FindWindowA("#32770", "http://h/logged.html");
    ASSERT_TRUE(log);
    EXPECT_EQ(GetWindow(log, GW_OWNER), window);
    char text[256] = {};
    GetDlgItemTextA(log, IDC_LOG_TEXT, text, sizeof text);
    EXPECT_STREQ(text, "first\r\nsecond\r\n");
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(log, IDC_LOG_PROGRESS)));
    SendMessageA(log, WM_COMMAND, IDCANCEL, 0);
    EXPECT_FALSE(IsWindow(log));
}

TEST_F(MainWindowCommandsTest, ModeCommandsKeepRecordingWithinOnline) {
    auto pressed = [&](int id) { return SendMessageA(main().toolbar(), TB_ISBUTTONPRESSED, id, 0) != 0; };
    auto checked = [&](int id) { return (GetMenuState(GetMenu(window), id, MF_BYCOMMAND) & MF_CHECKED) != 0; };
    settings().internet = settings().localize = 0;

    SendMessageA(window, WM_COMMAND, ID_MODE_LOCALIZE, 0);
    EXPECT_EQ(settings().internet, 1u);
    EXPECT_EQ(settings().localize, 1u);
    EXPECT_TRUE(pressed(ID_MODE_INTERNET) && pressed(ID_MODE_LOCALIZE));
    EXPECT_TRUE(checked(ID_MODE_INTERNET) && checked(ID_MODE_LOCALIZE));
    EXPECT_EQ(main().shown_icon_id(), IDI_RECORDING);

    SendMessageA(window, WM_COMMAND, ID_MODE_INTERNET, 0);
    EXPECT_EQ(settings().internet, 0u);
    EXPECT_EQ(settings().localize, 0u);
    EXPECT_FALSE(pressed(ID_MODE_INTERNET) || pressed(ID_MODE_LOCALIZE));
    EXPECT_FALSE(checked(ID_MODE_INTERNET) || checked(ID_MODE_LOCALIZE));
    EXPECT_EQ(main().shown_icon_id(), IDI_OFFLINE);

    SendMessageA(window, WM_COMMAND, ID_MODE_INTERNET, 0);
    SendMessageA(window, WM_COMMAND, ID_MODE_LOCALIZE, 0);
    SendMessageA(window, WM_COMMAND, ID_MODE_LOCALIZE, 0);
    EXPECT_EQ(settings().internet, 1u);
    EXPECT_EQ(settings().localize, 0u);
    EXPECT_EQ(main().shown_icon_id(), IDI_ONLINE);
}

TEST_F(MainWindowCommandsTest, TrayClicksStepThroughTheModes) {
    settings().internet = settings().localize = 0;
    auto click = [&] { SendMessageA(window, MWM_TRAY, 101, WM_LBUTTONDOWN); };
    auto small_icon_shown = [&] { return reinterpret_cast<HICON>(SendMessageA(window, WM_GETICON, ICON_SMALL, 0)); };

    click();
    EXPECT_EQ(main().shown_icon_id(), IDI_ONLINE);
    EXPECT_EQ(small_icon_shown(), small_icon(IDI_ONLINE));
    click();
    EXPECT_EQ(main().shown_icon_id(), IDI_RECORDING);
    EXPECT_EQ(small_icon_shown(), small_icon(IDI_RECORDING));
    click();
    EXPECT_EQ(main().shown_icon_id(), IDI_OFFLINE);
    EXPECT_EQ(small_icon_shown(), small_icon(IDI_OFFLINE));
    EXPECT_EQ(settings().internet, 0u);
    EXPECT_EQ(settings().localize, 0u);

    // Recording without online, as an old settings key may hold it.
    settings().localize = 1;
    click();
    EXPECT_EQ(settings().internet, 1u);
    EXPECT_EQ(settings().localize, 0u);
    EXPECT_EQ(main().shown_icon_id(), IDI_ONLINE);
}

TEST_F(MainWindowCommandsTest, TrayMenuOnlyWhileTheProgramIsOutOfSight) {
    ShowWindow(window, SW_SHOW);
    {
        MenuWatch watch(window);
        SendMessageA(window, MWM_TRAY, 101, WM_RBUTTONDOWN);
        watch.finish();
        EXPECT_FALSE(watch.opened);
    }
    ShowWindow(window, SW_HIDE);
    HWND log = reinterpret_cast<HWND>(SendMessageA(window, MWM_OPEN_LOG, 0, 0));
    ASSERT_TRUE(log);
    {
        MenuWatch watch(window);
        SendMessageA(window, MWM_TRAY, 101, WM_RBUTTONDOWN);
        watch.finish();
        EXPECT_FALSE(watch.opened);
    }
    DestroyWindow(log);
    // The activation that follows a closed window reaches the display a
    // moment later and would cancel a menu opened at once; a user's click
    // on the tray comes long after it.
    pump_until([] { return false; }, 500);
    MenuWatch watch(window);
    SendMessageA(window, MWM_TRAY, 101, WM_RBUTTONDOWN);
    watch.finish();
    EXPECT_TRUE(watch.opened);
}

TEST_F(MainWindowCommandsTest, QueuedForcedGetsAreKeptOncePerRequestLine) {
    auto queue = [&](LineList request) {
        Worker worker(record, [&] { UiLink(window, record).queue_forced_get(std::move(request)); });
        EXPECT_TRUE(pump_until([&] { return worker.done.load(); }));
    };
    queue(LineList{"GET http://h/a HTTP/1.0\r\n", "Vellum-Mode: GetOnly\r\n", "\r\n"});
    queue(LineList{"GET http://h/a HTTP/1.0\r\n", "Vellum-Mode: GetOnly\r\n", "Referer: x\r\n", "\r\n"});
    EXPECT_EQ(main().connections().queued_forced_gets(), 1u);
    queue(LineList{"GET http://h/b HTTP/1.0\r\n", "\r\n"});
    queue(LineList{});
    EXPECT_EQ(main().connections().queued_forced_gets(), 2u);
}

TEST_F(MainWindowCommandsTest, ReservationsFromTheBrowserMustBeGet) {
    auto reserve = [&](const char* method) {
        UiLink(window, record).reserve(make_request(method, "http://h/page.html"));
        pump();
    };
    reserve("GET");
    EXPECT_TRUE(prompter.shown.empty());
    reserve("POST");
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, "リクエストメソッドが「GET」ではないので、自動取得に予約できません！");
    EXPECT_EQ(prompter.shown[0].flags & MB_ICONMASK, static_cast<UINT>(MB_ICONWARNING));
}

TEST_F(MainWindowCommandsTest, ConnectionDebugWindowsFollowTheDebugKeys) {
    // Without debug mode the keys do nothing.
    settings().log = 1;
    SendMessageA(window, WM_MENUCHAR, 'L', 0);
    EXPECT_FALSE(main().debug_windows());

    ASSERT_TRUE(close_program());
    ASSERT_TRUE(start("debug autoclose 127.0.0.1:28399"));
    settings().log = 1;
    SendMessageA(window, WM_MENUCHAR, 'l', 0);
    EXPECT_TRUE(main().debug_windows());
    char title[128] = {};
    GetWindowTextA(window, title, sizeof title);
    EXPECT_STREQ(title, "Vellum 1.31b (ﾃﾞﾊﾞｯｸﾞ ｵｰﾄｸﾛｰｽﾞ)");

    HWND debug = reinterpret_cast<HWND>(SendMessageA(window, MWM_OPEN_LOG, 0, 1));
    HWND plain = reinterpret_cast<HWND>(SendMessageA(window, MWM_OPEN_LOG, 0, 0));
    ASSERT_TRUE(debug && plain);
    SetPropA(debug, "ID", reinterpret_cast<HANDLE>(1));  // as the connection thread marks it
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(debug, IDC_LOG_PROGRESS)));
    SendMessageA(debug, LWM_SET_PROGRESS, 60, 0);
    EXPECT_EQ(SendDlgItemMessageA(debug, IDC_LOG_PROGRESS, PBM_GETPOS, 0, 0), 60);

    // A plain log window ignores the keys; a debug window shares them.
    SendMessageA(plain, WM_MENUCHAR, 'L', 0);
    EXPECT_TRUE(main().debug_windows());
    SendMessageA(debug, WM_MENUCHAR, 'L', 0);
    EXPECT_FALSE(main().debug_windows());
    GetWindowTextA(window, title, sizeof title);
    EXPECT_STREQ(title, "Vellum 1.31b");

    // With log detail off the main window's keys do nothing either.
    settings().log = 0;
    SendMessageA(window, WM_MENUCHAR, 'D', 0);
    pump();
    EXPECT_TRUE(IsWindow(debug));
    settings().log = 1;
    SendMessageA(window, WM_MENUCHAR, 'D', 0);
    pump();
    EXPECT_FALSE(IsWindow(debug));
    EXPECT_TRUE(IsWindow(plain));
}

// A browser request in debug mode with the debug-windows flag on opens a
// debug window that shows the connection's log; with "autoclose" a request
// that ends well closes it again.
TEST_F(MainWindowCommandsTest, ConnectionDebugWindowsShowTheLiveLog) {
    testing::WinsockSession winsock;
    testing::TempFolder save;
    for (const char* mode : {"debug", "debug autoclose"}) {
        SCOPED_TRACE(mode);
        ASSERT_TRUE(close_program());
        ASSERT_TRUE(start(std::string(mode) + " 127.0.0.1:28398"));
        settings().log = 1;
        settings().localPath = save.path();
        SendMessageA(window, WM_MENUCHAR, 'L', 0);
        ASSERT_TRUE(main().debug_windows());

        UniqueSocket browser = testing::connect_to_proxy(28398);
        testing::send_all(browser.get(), "GET http://h/missing.html HTTP/1.0\r\n\r\n");
        // Answered (readable) and over (no live connection left).
        ASSERT_TRUE(pump_until([&] { return readable_now(browser.get()) && main().connections().count() == 0; }));
        const std::string answer = testing::receive_all(browser.get());
        EXPECT_EQ(answer.substr(0, 22), "HTTP/1.0 404 Not Found");

        HWND debug = FindWindowA("#32770", "http://h/missing.html");
        if (std::string(mode) == "debug") {
            ASSERT_TRUE(debug);
            EXPECT_EQ(GetPropA(debug, "ID"), reinterpret_cast<HANDLE>(1));
            std::vector<char> text(GetWindowTextLengthA(GetDlgItem(debug, IDC_LOG_TEXT)) + 1);
            GetDlgItemTextA(debug, IDC_LOG_TEXT, text.data(), static_cast<int>(text.size()));
            EXPECT_NE(std::string(text.data()).find("クライエント通信用ソケット識別子"), std::string::npos);
            SendMessageA(window, WM_MENUCHAR, 'D', 0);
            pump();
            EXPECT_FALSE(IsWindow(debug));
        } else {
            EXPECT_FALSE(debug);
        }
    }
}

}  // namespace
}  // namespace vellum
