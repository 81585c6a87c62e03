#include "cookies/credentials.h"

#include <algorithm>
#include <array>

#include "cookies/text_file.h"
#include "store/text_codec.h"

namespace vellum {
namespace {

template <typename Store>
auto find_host(Store& store, std::string_view host) -> decltype(&store.hosts.front()) {
    for (auto& entry : store.hosts) {
        if (entry.host == host) return &entry;
    }
    return nullptr;
}

bool has_line_end(std::string_view text) {
    return text.find('\n') != std::string_view::npos;
}

}  // namespace

void credentials_put(CredentialStore& store, std::string_view host, std::string_view challenge,
                     std::optional<std::string_view> user_name, std::optional<std::string_view> password) {
    // Texts end at their first zero byte, as everywhere. A line end would
    // shift every later group of the credential file; no source sends one.
    host = text_before_zero(host);
    challenge = text_before_zero(challenge);
    if (user_name) user_name = text_before_zero(*user_name);
    if (password) password = text_before_zero(*password);
    if (has_line_end(host) || has_line_end(challenge) || (user_name && has_line_end(*user_name)) ||
        (password && has_line_end(*password))) {
        return;
    }
    CredentialHost* host_entry = find_host(store, host);
    if (!host_entry) host_entry = &store.hosts.emplace_back(CredentialHost{std::string(host), {}});
    auto found = std::find_if(host_entry->entries.begin(), host_entry->entries.end(),
                              [&](const CredentialEntry& e) { return e.challenge == challenge; });
    CredentialEntry& entry =
        found != host_entry->entries.end() ? *found : host_entry->entries.emplace_back(CredentialEntry{std::string(challenge), {}, {}});
    if (user_name) entry.user_name = std::string(*user_name);
    if (password) entry.password = std::string(*password);
}

void credentials_note_challenge(CredentialStore& store, std::string_view host, std::string_view challenge) {
    credentials_put(store, host, challenge, std::nullopt, std::nullopt);
}

const std::vector<CredentialHost>& credentials_hosts(const CredentialStore& store) {
    return store.hosts;
}

std::span<const CredentialEntry> credentials_for_host(const CredentialStore& store, std::string_view host) {
    const CredentialHost* entry = find_host(store, host);
    if (!entry) return {};
    return entry->entries;
}

const CredentialEntry* credentials_find(const CredentialStore& store, std::string_view host,
                                        std::string_view challenge) {
    for (const CredentialEntry& entry : credentials_for_host(store, host)) {
        if (entry.challenge == challenge) return &entry;
    }
    return nullptr;
}

void credentials_remove_host(CredentialStore& store, std::string_view host) {
    std::erase_if(store.hosts, [host](const CredentialHost& entry) { return entry.host == host; });
}

std::optional<std::string> credentials_basic_token(const CredentialStore& store, std::string_view host,
                                                   std::string_view challenge) {
    const CredentialEntry* entry = credentials_find(store, host, challenge);
    if (!entry || !entry->user_name || !entry->password || entry->user_name->empty() || entry->password->empty()) {
        return std::nullopt;
    }
    return base64_encode(*entry->user_name + ":" + *entry->password);
}

std::optional<std::string> credential_scope(std::string_view url_text) {
    const std::string_view before_query = url_text.substr(0, url_text.find('?'));
    const std::size_t slash = before_query.rfind('/');
    if (slash == std::string_view::npos) return std::nullopt;
    return std::string(before_query.substr(0, slash + 1));
}

bool in_credential_scope(std::string_view scope, std::string_view url_text) {
    return url_text.starts_with(scope);
}

std::string credentials_file_text(const CredentialStore& store) {
    std::string text;
    for (const CredentialHost& host : store.hosts) {
        for (const CredentialEntry& entry : host.entries) {
            if (!entry.user_name || !entry.password) continue;
            for (const std::string* line : {&host.host, &entry.challenge, &*entry.user_name, &*entry.password}) {
                text += *line;
                text += "\r\n";
            }
        }
    }
    return text;
}

void credentials_load_text(CredentialStore& store, std::string_view file_bytes) {
    store.hosts.clear();
    std::size_t offset = 0;
    while (true) {
        std::array<std::string_view, 4> lines;
        for (std::string_view& line : lines) {
            std::optional<std::string_view> read = read_text_line(file_bytes, offset);
            if (!read) return;
            line = text_before_zero(*read);
        }
        credentials_put(store, lines[0], lines[1], lines[2], lines[3]);
    }
}

void CredentialEdits::keep(std::string_view host, std::string_view challenge, std::string_view user_name,
                           std::string_view password) {
    if (host.empty() || challenge.empty() || (user_name.empty() && password.empty())) return;
    for (Edit& edit : edits_) {
        if (edit.host == host && edit.challenge == challenge) {
            edit.user_name = std::string(user_name);
            edit.password = std::string(password);
            return;
        }
    }
    edits_.push_back({std::string(host), std::string(challenge), std::string(user_name), std::string(password)});
}

const CredentialEdits::Edit* CredentialEdits::find(std::string_view host, std::string_view challenge) const {
    for (const Edit& edit : edits_) {
        if (edit.host == host && edit.challenge == challenge) return &edit;
    }
    return nullptr;
}

void CredentialEdits::remove_host(std::string_view host) {
    removals_.emplace_back(host);
}

void CredentialEdits::apply(CredentialStore& store) const {
    for (const Edit& edit : edits_) {
        if (edit.user_name.empty() || edit.password.empty()) continue;
        credentials_put(store, edit.host, edit.challenge, edit.user_name, edit.password);
    }
    for (const std::string& host : removals_) credentials_remove_host(store, host);
}

}  // namespace vellum
