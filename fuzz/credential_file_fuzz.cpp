// The credential file beside the program: groups of four lines (host,
// challenge, user name, password), as a crash or an editor may have left it.
#include <set>
#include <utility>
#include <vector>

#include "cookies/credentials.h"
#include "cookies/text_file.h"
#include "fuzz/fuzz_check.h"
#include "store/text_codec.h"

namespace vellum::fuzz {
namespace {

// A file exactly as a save writes it: whole groups of "\r\n"-terminated
// lines without zero bytes, each (host, challenge) once, the groups of one
// host together.
bool written_by_a_save(std::string_view input) {
    if (input.find('\0') != std::string_view::npos) return false;
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < input.size()) {
        const std::size_t newline = input.find('\n', start);
        if (newline == std::string_view::npos || newline == start || input[newline - 1] != '\r') return false;
        lines.push_back(input.substr(start, newline - 1 - start));
        start = newline + 1;
    }
    if (lines.size() % 4 != 0) return false;
    std::set<std::pair<std::string_view, std::string_view>> seen;
    std::set<std::string_view> finished_hosts;
    for (std::size_t i = 0; i < lines.size(); i += 4) {
        if (!seen.insert({lines[i], lines[i + 1]}).second) return false;
        if (i > 0 && lines[i] != lines[i - 4]) {
            if (!finished_hosts.insert(lines[i - 4]).second || finished_hosts.count(lines[i])) return false;
        }
    }
    return true;
}

}  // namespace
}  // namespace vellum::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vellum;
    using namespace vellum::fuzz;
    const std::string input = input_text(data, size);

    CredentialStore store;
    credentials_load_text(store, input);
    const std::string text = credentials_file_text(store);
    if (written_by_a_save(input)) require(text == input, "a loaded file of complete entries saves back byte for byte");

    for (const CredentialHost& host : credentials_hosts(store)) {
        require(!host.entries.empty(), "a loaded host has its challenges");
        for (const CredentialEntry& entry : host.entries) {
            require(entry.user_name && entry.password, "every loaded entry is complete");
            const std::optional<std::string> token = credentials_basic_token(store, host.host, entry.challenge);
            const bool usable = !entry.user_name->empty() && !entry.password->empty();
            require(token.has_value() == usable, "a token exactly when both user name and password are there");
            if (token) require(*token == base64_encode(*entry.user_name + ":" + *entry.password), "the token is Base64");
        }
    }

    CredentialStore reloaded;
    credentials_load_text(reloaded, text);
    require(reloaded.hosts == store.hosts, "a saved store reloads into the same store");
    require(credentials_file_text(reloaded) == text, "a reloaded store saves the same bytes");
    return 0;
}
