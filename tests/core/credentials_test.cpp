#include "cookies/credentials.h"

#include <gtest/gtest.h>

#include <string>

namespace vellum {
namespace {

constexpr char kChallenge[] = "Basic realm=\"members\"";

std::string token(const CredentialStore& store, std::string_view host, std::string_view challenge = kChallenge) {
    return credentials_basic_token(store, host, challenge).value_or("<none>");
}

TEST(CredentialStore, ChallengeNotedByTheProxyKeepsWhatTheUserGave) {
    CredentialStore store;
    credentials_note_challenge(store, "h.test:8080", kChallenge);
    ASSERT_EQ(store.hosts.size(), 1u);
    const CredentialEntry* entry = credentials_find(store, "h.test:8080", kChallenge);
    ASSERT_TRUE(entry);
    EXPECT_FALSE(entry->user_name);
    EXPECT_FALSE(entry->password);

    credentials_put(store, "h.test:8080", kChallenge, "Aladdin", "open sesame");
    credentials_note_challenge(store, "h.test:8080", kChallenge);
    // The crawler asks with url_host_port, the Host header's own form.
    EXPECT_EQ(token(store, "h.test:8080"), "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
    EXPECT_EQ(token(store, "h.test"), "<none>");
    EXPECT_EQ(credentials_for_host(store, "h.test:8080").size(), 1u);
}

TEST(CredentialStore, AbsentValuesLeaveTheStoredOnes) {
    CredentialStore store;
    credentials_put(store, "h.test", kChallenge, "user", std::nullopt);
    EXPECT_EQ(token(store, "h.test"), "<none>");
    credentials_put(store, "h.test", kChallenge, std::nullopt, "pw");
    EXPECT_EQ(token(store, "h.test"), "dXNlcjpwdw==");
    credentials_put(store, "h.test", kChallenge, "", std::nullopt);
    EXPECT_EQ(token(store, "h.test"), "<none>");
    EXPECT_EQ(credentials_find(store, "h.test", kChallenge)->password, "pw");
}

TEST(CredentialStore, HostsAndChallengesKeepTheirOrderAndCase) {
    CredentialStore store;
    credentials_note_challenge(store, "b.test", "Basic realm=\"1\"");
    credentials_note_challenge(store, "a.test", "Basic realm=\"x\"");
    credentials_note_challenge(store, "b.test", "Basic realm=\"2\"");
    credentials_note_challenge(store, "B.test", "Basic realm=\"1\"");
    ASSERT_EQ(credentials_hosts(store).size(), 3u);
    EXPECT_EQ(credentials_hosts(store)[0].host, "b.test");
    EXPECT_EQ(credentials_hosts(store)[1].host, "a.test");
    EXPECT_EQ(credentials_hosts(store)[2].host, "B.test");
    auto challenges = credentials_for_host(store, "b.test");
    ASSERT_EQ(challenges.size(), 2u);
    EXPECT_EQ(challenges[0].challenge, "Basic realm=\"1\"");
    EXPECT_EQ(challenges[1].challenge, "Basic realm=\"2\"");
    EXPECT_TRUE(credentials_for_host(store, "c.test").empty());
    EXPECT_FALSE(credentials_find(store, "b.test", "basic realm=\"1\""));

    credentials_remove_host(store, "b.test");
    credentials_remove_host(store, "nowhere.test");
    ASSERT_EQ(credentials_hosts(store).size(), 2u);
    EXPECT_EQ(credentials_hosts(store)[0].host, "a.test");
}

TEST(CredentialStore, LineEndsNeverEnterTheStore) {
    CredentialStore store;
    credentials_put(store, "h.test", kChallenge, "user\r\nevil.test", "pw");
    credentials_put(store, "h.test\n", kChallenge, std::nullopt, std::nullopt);
    EXPECT_TRUE(store.hosts.empty());
    credentials_put(store, std::string_view("h.test\0x", 8), kChallenge, std::nullopt, std::nullopt);
    EXPECT_TRUE(credentials_find(store, "h.test", kChallenge));
}

TEST(CredentialFile, FourLinesPerCompleteEntry) {
    CredentialStore store;
    credentials_note_challenge(store, "learned.test", kChallenge);
    credentials_put(store, "h.test:8080", kChallenge, "user", "p@ss word");
    credentials_put(store, "h.test:8080", "Basic realm=\"other\"", "", "");
    credentials_put(store, "half.test", kChallenge, "user", std::nullopt);
    const std::string text = credentials_file_text(store);
    EXPECT_EQ(text,
              "h.test:8080\r\nBasic realm=\"members\"\r\nuser\r\np@ss word\r\n"
              "h.test:8080\r\nBasic realm=\"other\"\r\n\r\n\r\n");

    CredentialStore reloaded;
    credentials_load_text(reloaded, text);
    EXPECT_EQ(credentials_file_text(reloaded), text);
    EXPECT_EQ(credentials_find(reloaded, "h.test:8080", "Basic realm=\"other\"")->user_name, "");
}

TEST(CredentialFile, LoadStopsAtAPartialGroup) {
    CredentialStore store;
    store.hosts.push_back({"stale.test", {}});
    credentials_load_text(store, "a.test\nBasic\nu\np\nb.test\r\nBasic\r\nu2\r\np2");
    ASSERT_EQ(store.hosts.size(), 1u);
    EXPECT_EQ(token(store, "a.test", "Basic"), "dTpw");
    EXPECT_EQ(credentials_file_text(store), "a.test\r\nBasic\r\nu\r\np\r\n");
}

TEST(CredentialFile, RepeatedEntriesMergeAndHostsGroup) {
    CredentialStore store;
    credentials_load_text(store,
                          "a.test\r\nc\r\nu1\r\np1\r\n"
                          "b.test\r\nc\r\nu\r\np\r\n"
                          "a.test\r\nc\r\nu2\r\np2\r\n"
                          "a.test\r\nd\r\nu3\r\np3\r\n");
    EXPECT_EQ(credentials_file_text(store),
              "a.test\r\nc\r\nu2\r\np2\r\n"
              "a.test\r\nd\r\nu3\r\np3\r\n"
              "b.test\r\nc\r\nu\r\np\r\n");
}

TEST(CredentialScope, DirectoryOfTheAcceptedPage) {
    EXPECT_EQ(credential_scope("http://h.test/dir/page.html?next=/x/y"), "http://h.test/dir/");
    EXPECT_EQ(credential_scope("http://h.test:8080/"), "http://h.test:8080/");
    EXPECT_EQ(credential_scope("http://h.test/a/b/"), "http://h.test/a/b/");
    EXPECT_FALSE(credential_scope("mailto:someone"));

    const std::string scope = *credential_scope("http://h.test/dir/page.html");
    EXPECT_TRUE(in_credential_scope(scope, "http://h.test/dir/other.html"));
    EXPECT_TRUE(in_credential_scope(scope, "http://h.test/dir/sub/x.gif"));
    EXPECT_FALSE(in_credential_scope(scope, "http://h.test/dirt/x.html"));
    EXPECT_FALSE(in_credential_scope(scope, "http://h.test/DIR/x.html"));
    EXPECT_FALSE(in_credential_scope(scope, "http://h.test.evil/dir/x.html"));
}

TEST(CredentialEdits, OnlyCompleteEditsReachTheStore) {
    CredentialStore store;
    credentials_put(store, "h.test", kChallenge, "old", "oldpw");
    credentials_note_challenge(store, "k.test", kChallenge);

    CredentialEdits edits;
    edits.keep("h.test", kChallenge, "newuser", "");  // a user name alone
    edits.keep("k.test", kChallenge, "", "");         // nothing typed: not kept
    edits.keep("", kChallenge, "u", "p");
    ASSERT_EQ(edits.edits().size(), 1u);
    edits.apply(store);
    EXPECT_EQ(token(store, "h.test"), "b2xkOm9sZHB3");

    edits.keep("h.test", kChallenge, "newuser", "newpw");
    ASSERT_EQ(edits.edits().size(), 1u);
    EXPECT_EQ(edits.find("h.test", kChallenge)->password, "newpw");
    edits.keep("k.test", kChallenge, "ku", "kp");
    edits.apply(store);
    EXPECT_EQ(token(store, "h.test"), "bmV3dXNlcjpuZXdwdw==");
    EXPECT_EQ(token(store, "k.test"), "a3U6a3A=");
}

TEST(CredentialEdits, RemovalWinsOverAnEdit) {
    CredentialStore store;
    credentials_note_challenge(store, "h.test", kChallenge);
    credentials_note_challenge(store, "k.test", kChallenge);
    CredentialEdits edits;
    edits.keep("h.test", kChallenge, "u", "p");
    edits.remove_host("h.test");
    // Cancel: nothing applied, the store is as it was.
    EXPECT_EQ(credentials_hosts(store).size(), 2u);
    edits.apply(store);
    ASSERT_EQ(credentials_hosts(store).size(), 1u);
    EXPECT_EQ(credentials_hosts(store)[0].host, "k.test");
}

}  // namespace
}  // namespace vellum
