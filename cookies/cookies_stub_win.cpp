// The cookie jar and the credential store of a program built without them:
// nothing is kept, sent, loaded or saved.
#include "cookies/cookies_win.h"

namespace vellum {

void cookie_jar_load() {}

void cookie_jar_store(std::string_view, std::optional<std::string_view>) {}

std::optional<std::string> cookie_jar_header_value(const ParsedUrl&) {
    return std::nullopt;
}

void cookie_jar_discard_stale() {}

bool cookie_jar_save() {
    return true;
}

void cookie_jar_save_and_free() {}

void credentials_load() {}

void credentials_put(std::string_view, std::string_view, std::optional<std::string_view>,
                     std::optional<std::string_view>) {}

std::optional<std::string> credentials_basic_token(std::string_view, std::string_view) {
    return std::nullopt;
}

void credentials_save_and_free() {}

void show_credentials_dialog(HWND) {}

}  // namespace vellum
