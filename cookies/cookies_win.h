// The cookie jar and the credential store as the rest of the program uses
// them. Both live in memory, are loaded from their files beside the program
// ("cookie", "authenticate") when the main window is created, and are saved
// and released when it is destroyed. Connection threads read the jar
// directly (cookie_jar_header_value, under the jar's lock, through their
// record's cookies_for) and reach everything else through the main window
// (MWM_COOKIE_SET, MWM_AUTH_NOTE), the crawler through the auto-get window
// (AGM_AUTH).
//
// UI thread only, but for cookie_jar_header_value. Texts returned are new and
// belong to the caller.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "cookies/cookie_jar.h"
#include "cookies/credentials.h"
#include "http/http_message.h"

namespace vellum {

// Empties the jar and fills it from the cookie file.
void cookie_jar_load();
// Adds or replaces the cookie a Set-Cookie value describes; `host` (the
// request's host name, without port) is its domain unless it names one;
// `over_https` when the answer came over TLS (a Secure cookie needs it).
void cookie_jar_store(std::string_view set_cookie, std::optional<std::string_view> host, bool over_https = false);
// The Cookie header value for a request of `url`: the matching cookies'
// name=value pairs joined with "; ", or none when no cookie matches. Any thread.
std::optional<std::string> cookie_jar_header_value(const ParsedUrl& url);
// Removes every cookie without expiry and every expired one.
void cookie_jar_discard_stale();
// Writes the cookie file; true on success.
bool cookie_jar_save();
// cookie_jar_save, then releases the whole jar.
void cookie_jar_save_and_free();

// Empties the store and fills it from the credential file.
void credentials_load();
// Adds the host and its challenge if missing and sets the user name and the
// password that are given; an absent one leaves the stored value.
void credentials_put(std::string_view host, std::string_view challenge, std::optional<std::string_view> user,
                     std::optional<std::string_view> password);
// The Basic token (Base64 of user name, ":" and password) for the host and
// challenge, or none unless both are stored and non-empty.
std::optional<std::string> credentials_basic_token(std::string_view host, std::string_view challenge);
// Writes the credential file and releases the store.
void credentials_save_and_free();

// The パスワード設定 dialog (the auto-get window's command), modal to `owner`:
// the user edits the stored user names and passwords; nothing changes unless
// the dialog ends with OK.
void show_credentials_dialog(HWND owner);

// What the jar and the store hold now, for the program's tests; references
// last until the next change.
const CookieJar& current_cookie_jar();
const CredentialStore& current_credentials();
// Keeps both files in `folder` instead of the program's folder (a test's own
// folder); an empty text goes back to the program's folder. Call before the
// main window is created.
void use_cookie_files_folder(std::string folder);

}  // namespace vellum
