// The credential store: user names and passwords for the servers that ask
// for HTTP Basic authentication, which the crawler sends on the user's
// behalf. The proxy registers each (host, challenge) it sees in a 401 answer;
// the user fills in a user name and password in the password dialog; the
// crawler asks for a ready token when a server challenges it. The browser
// answers its own challenges and is never given these.
//
// Two levels in insertion order: hosts (the Host header's form, host[:port],
// with "https://" before it for https: http/url_text.h's credential_host)
// and, per host, challenges (a WWW-Authenticate value), compared byte for
// byte. The credential file keeps four lines per complete entry;
// cookies/cookie_files_win.h reads and writes it beside the program.
//
// Thread: the UI thread owns the one store and is the only thread that
// touches it (connection threads through MWM_AUTH_NOTE, the crawler through
// AGM_AUTH). Results are owned by the caller; pointers and spans into the
// store last until its next change.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vellum {

struct CredentialEntry {
    std::string challenge;
    std::optional<std::string> user_name;  // none until the user gives one
    std::optional<std::string> password;

    bool operator==(const CredentialEntry&) const = default;
};

struct CredentialHost {
    std::string host;
    std::vector<CredentialEntry> entries;

    bool operator==(const CredentialHost&) const = default;
};

struct CredentialStore {
    std::vector<CredentialHost> hosts;
};

// Adds the host and its challenge when missing, then replaces the user name
// and the password that are given; one that is none keeps the stored value.
void credentials_put(CredentialStore& store, std::string_view host, std::string_view challenge,
                     std::optional<std::string_view> user_name, std::optional<std::string_view> password);

// What a 401 answer seen by the proxy does (MWM_AUTH_NOTE): registers the
// host and challenge for the password dialog; an entry the user has filled
// in keeps its user name and password.
void credentials_note_challenge(CredentialStore& store, std::string_view host, std::string_view challenge);

// Every host in store order, for the password dialog.
const std::vector<CredentialHost>& credentials_hosts(const CredentialStore& store);
// The challenges of `host` in store order; empty for an unknown host.
std::span<const CredentialEntry> credentials_for_host(const CredentialStore& store, std::string_view host);
// The entry for (host, challenge), or nullptr.
const CredentialEntry* credentials_find(const CredentialStore& store, std::string_view host,
                                        std::string_view challenge);
// Removes the host with all its challenges; an unknown host is ignored.
void credentials_remove_host(CredentialStore& store, std::string_view host);

// Base64 of user name ":" password for the "Authorization: Basic " line
// (AGM_AUTH's answer); none unless the entry exists and both are non-empty.
// `host` is credential_host of the challenged URL (http/url_text.h), the
// form the proxy registered from the Host header: host[:port] for http,
// "https://" host[:port] for https.
std::optional<std::string> credentials_basic_token(const CredentialStore& store, std::string_view host,
                                                   std::string_view challenge);

// Where a token that a server accepted is sent without a new challenge: the
// URL text (url_text) of the accepted page cut at its first "?" and just after
// its last "/" ("http://host/dir/"); none without a "/". The crawler keeps
// the scope for one run.
std::optional<std::string> credential_scope(std::string_view url_text);
// Whether a URL text lies in the scope (a case-sensitive prefix).
bool in_credential_scope(std::string_view scope, std::string_view url_text);

// The credential file: host, challenge, user name and password, each line
// ending in "\r\n", for every entry that has both a user name and a password
// (empty ones count), in store order. The password is plain text.
std::string credentials_file_text(const CredentialStore& store);
// Empties the store and puts each complete group of four lines of a
// credential file's bytes (cookies/text_file.h); a partial group at the end
// is ignored. Each text ends at its first zero byte.
void credentials_load_text(CredentialStore& store, std::string_view file_bytes);

// The password dialog's pending changes, applied to the store only on OK:
// edits per (host, challenge) in order of first edit, and removed hosts.
class CredentialEdits {
public:
    struct Edit {
        std::string host;
        std::string challenge;
        std::string user_name;
        std::string password;
    };

    // Keeps what is on screen: with a non-empty host and challenge and at
    // least one of user name and password non-empty, records the four texts,
    // replacing an earlier edit of the same host and challenge.
    void keep(std::string_view host, std::string_view challenge, std::string_view user_name,
              std::string_view password);
    // The pending edit for (host, challenge), or nullptr.
    const Edit* find(std::string_view host, std::string_view challenge) const;
    void remove_host(std::string_view host);
    // Puts every edit whose four texts are non-empty (one with an empty user
    // name or password is dropped), then removes the removed hosts, so a host
    // both edited and removed ends up removed.
    void apply(CredentialStore& store) const;

    const std::vector<Edit>& edits() const { return edits_; }
    const std::vector<std::string>& removals() const { return removals_; }

private:
    std::vector<Edit> edits_;
    std::vector<std::string> removals_;
};

}  // namespace vellum
