// The jar and the credential store inside the real program: loaded from
// their files when the main window is made, reached by connection threads
// through the main window's messages, emptied of stale cookies by the
// クッキーを捨てる command, and written back when the program ends (or,
// when the disk fails, the previous files kept).
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "cookies/cookie_files_win.h"
#include "cookies/cookies_win.h"
#include "proxy/connection_io_win.h"
#include "proxy/connection_record.h"
#include "proxy/ui_requests.h"
#include "resources/resource.h"
#include "tests/support/program_session_win.h"
#include "tests/support/temp_folder_win.h"

namespace vellum {
namespace {

using testing::read_file;
using testing::TempFolder;
using testing::write_file;

constexpr char kFuture[] = "Fri, 31 Dec 2100 23:59:59 GMT";
constexpr char kPast[] = "Sat, 05 Nov 2005 08:49:37 GMT";
constexpr char kQuestion[] = "賞味期限が不明なクッキーや期限切れのクッキーを捨ててよろしいですか？";

const std::string kCookieFile = std::string("sid=1; domain=h.test; path=/\r\n") +
                                "keep=2; domain=h.test; path=/; expires=" + kFuture + "\r\n" +
                                "old=3; domain=h.test; path=/; expires=" + kPast + "\r\n";
const std::string kCredentialFile = "h.test:8080\r\nBasic realm=\"会員\"\r\nuser\r\npw\r\n";

class CookiesInTheProgram : public testing::ProgramSession {
protected:
    void SetUp() override {
        ProgramSession::SetUp();
        use_cookie_files_folder(folder.path());
        ASSERT_TRUE(write_file(cookie_path(), kCookieFile));
        ASSERT_TRUE(write_file(credential_path(), kCredentialFile));
    }
    void TearDown() override {
        ProgramSession::TearDown();
        set_file_write_function(nullptr);
        use_cookie_files_folder("");
    }

    void start_program() {
        static int next_port = 28471;
        ASSERT_TRUE(start("127.0.0.1:" + std::to_string(next_port++)));
        record.main_window = window;
    }

    // `body` on a connection thread stand-in that waits for its answers as a
    // connection thread does, while this thread runs the main window.
    void as_connection(const std::function<void(UiLink&)>& body) {
        std::atomic<bool> done{false};
        std::thread worker([&] {
            ensure_thread_queue();
            record.thread_id = GetCurrentThreadId();
            UiLink link(window, record);
            body(link);
            done = true;
        });
        EXPECT_TRUE(pump_until([&] { return done.load(); }));
        worker.join();
    }

    std::string cookie_path() const { return path_in_folder(folder.path(), kCookieFileName); }
    std::string credential_path() const { return path_in_folder(folder.path(), kCredentialFileName); }

    static std::vector<std::string> names() {
        std::vector<std::string> result;
        for (const CookieEntry& entry : cookie_jar_entries(current_cookie_jar())) result.push_back(entry.cookie.name);
        return result;
    }

    TempFolder folder;
    ConnectionRecord record;
};

TEST_F(CookiesInTheProgram, ConnectionsUseTheJarAndTheStoreThatGoBackToTheirFilesAtExit) {
    start_program();
    EXPECT_EQ(names(), (std::vector<std::string>{"sid", "keep", "old"}));
    ASSERT_EQ(current_credentials().hosts.size(), 1u);

    std::optional<std::string> sent, elsewhere, lookalike;
    as_connection([&](UiLink& link) {
        link.store_cookie("new=4; path=/app", "www.h.test");
        link.store_cookie("planted=5; domain=other.test; path=/", "www.h.test");  // another site's
        link.store_cookie("wide=6; domain=.test", "www.h.test");                  // a whole top-level domain
        link.store_cookie("dot=7; domain=.h.test", "www.h.test");
        sent = link.cookie_for(parse_url("http://www.h.test:8080/app/page.html").value());
        elsewhere = link.cookie_for(parse_url("http://other.test/").value());
        lookalike = link.cookie_for(parse_url("http://noth.test/").value());
        link.note_authentication("www.h.test:8080", "Basic realm=\"x\"");
        link.note_authentication("h.test:8080", "Basic realm=\"会員\"");  // already filled in
    });
    EXPECT_EQ(sent, "sid=1; keep=2; new=4; dot=7");  // old has expired
    EXPECT_EQ(elsewhere, std::nullopt);
    EXPECT_EQ(lookalike, std::nullopt);
    EXPECT_EQ(credentials_basic_token("h.test:8080", "Basic realm=\"会員\""), "dXNlcjpwdw==");
    ASSERT_EQ(current_credentials().hosts.size(), 2u);
    EXPECT_EQ(current_credentials().hosts[1].host, "www.h.test:8080");

    ASSERT_TRUE(close_program());
    const std::string saved_cookies = std::string("sid=1; domain=h.test; path=/\r\n") +
                                      "keep=2; domain=h.test; path=/; expires=" + kFuture + "\r\n" +
                                      "new=4; domain=www.h.test; path=/app\r\n" +
                                      "dot=7; domain=.h.test; path=/\r\n";
    EXPECT_EQ(read_file(cookie_path()), saved_cookies);
    // The host learned from a 401 has no user name yet: not written.
    EXPECT_EQ(read_file(credential_path()), kCredentialFile);
    EXPECT_FALSE(testing::file_exists(cookie_path() + ".new"));
    EXPECT_TRUE(current_cookie_jar().domains.empty());
    EXPECT_TRUE(current_credentials().hosts.empty());

    start_program();
    EXPECT_EQ(names(), (std::vector<std::string>{"sid", "keep", "new", "dot"}));
    EXPECT_EQ(credentials_basic_token("h.test:8080", "Basic realm=\"会員\""), "dXNlcjpwdw==");
}

TEST_F(CookiesInTheProgram, DiscardingAsksFirstAndKeepsOnlyCookiesWithAFutureExpiry) {
    start_program();
    prompter.answer_yes = false;
    SendMessageA(window, WM_COMMAND, ID_DISCARD_COOKIES, 0);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, kQuestion);
    EXPECT_EQ(prompter.shown[0].caption, "Vellum 1.31b");
    EXPECT_EQ(prompter.shown[0].flags & (MB_TYPEMASK | MB_ICONMASK), static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
    EXPECT_EQ(names(), (std::vector<std::string>{"sid", "keep", "old"}));

    prompter.answer_yes = true;
    SendMessageA(window, WM_COMMAND, ID_DISCARD_COOKIES, 0);
    EXPECT_EQ(names(), std::vector<std::string>{"keep"});
}

// Writes a little, then reports a full disk.
bool disk_full(HANDLE file, const char* data, DWORD size) {
    DWORD written = 0;
    WriteFile(file, data, size / 3, &written, nullptr);
    SetLastError(ERROR_DISK_FULL);
    return false;
}

TEST_F(CookiesInTheProgram, ASaveThatFailsAtExitKeepsThePreviousFilesWhole) {
    start_program();
    as_connection([&](UiLink& link) { link.store_cookie("more=1", "h.test"); });
    credentials_put("h.test:8080", "Basic realm=\"会員\"", "other", "secret");
    set_file_write_function(disk_full);
    ASSERT_TRUE(close_program());
    EXPECT_EQ(read_file(cookie_path()), kCookieFile);
    EXPECT_EQ(read_file(credential_path()), kCredentialFile);
    EXPECT_FALSE(testing::file_exists(cookie_path() + ".new"));
    EXPECT_FALSE(testing::file_exists(credential_path() + ".new"));
}

}  // namespace
}  // namespace vellum
