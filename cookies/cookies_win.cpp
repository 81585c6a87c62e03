#include "cookies/cookies_win.h"

#include <mutex>

#include "base/clock.h"
#include "cookies/cookie_files_win.h"
#include "cookies/cookie_jar.h"
#include "cookies/credentials.h"
#include "cookies/credentials_dialog_win.h"

namespace vellum {
namespace {

// The program's one jar and one credential store. Connection threads read
// the jar for every request they forward, so every use of it holds its
// lock. The store is the UI thread's alone: connection threads and the
// crawler ask it by message, so every change happens between two messages.
std::mutex g_jar_mutex;
CookieJar g_jar;
CredentialStore g_credentials;
std::string g_folder_override;

std::string files_folder() {
    return g_folder_override.empty() ? program_folder() : g_folder_override;
}

}  // namespace

void use_cookie_files_folder(std::string folder) {
    g_folder_override = std::move(folder);
}

void cookie_jar_load() {
    std::lock_guard<std::mutex> hold(g_jar_mutex);
    cookie_jar_load(g_jar, files_folder());
}

void cookie_jar_store(std::string_view set_cookie, std::optional<std::string_view> host, bool over_https) {
    std::lock_guard<std::mutex> hold(g_jar_mutex);
    cookie_jar_store(g_jar, set_cookie, host, over_https);
}

std::optional<std::string> cookie_jar_header_value(const ParsedUrl& url) {
    std::lock_guard<std::mutex> hold(g_jar_mutex);
    return cookie_jar_header_value(g_jar, url, current_time_utc());
}

void cookie_jar_discard_stale() {
    std::lock_guard<std::mutex> hold(g_jar_mutex);
    cookie_jar_discard_stale(g_jar, current_time_utc());
}

bool cookie_jar_save() {
    std::lock_guard<std::mutex> hold(g_jar_mutex);
    return cookie_jar_save(g_jar, files_folder());
}

void cookie_jar_save_and_free() {
    // A failed save keeps the previous file; the program is ending, and the
    // user has no way left to act on a message about it.
    std::lock_guard<std::mutex> hold(g_jar_mutex);
    cookie_jar_save_and_free(g_jar, files_folder());
}

void credentials_load() {
    credentials_load(g_credentials, files_folder());
}

void credentials_put(std::string_view host, std::string_view challenge, std::optional<std::string_view> user,
                     std::optional<std::string_view> password) {
    credentials_put(g_credentials, host, challenge, user, password);
}

std::optional<std::string> credentials_basic_token(std::string_view host, std::string_view challenge) {
    return credentials_basic_token(g_credentials, host, challenge);
}

void credentials_save_and_free() {
    credentials_save_and_free(g_credentials, files_folder());
}

void show_credentials_dialog(HWND owner) {
    CredentialsDialog dialog(g_credentials);
    if (dialog.run(owner) == IDOK) dialog.edits.apply(g_credentials);
}

const CookieJar& current_cookie_jar() {
    return g_jar;
}

const CredentialStore& current_credentials() {
    return g_credentials;
}

}  // namespace vellum
