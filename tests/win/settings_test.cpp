// The settings store against the real registry of the test prefix. Every test
// starts and ends without the program's keys.
#include "shell/settings_win.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <optional>
#include <string>

namespace vellum {
namespace {

constexpr char kModulePath[] = "C:\\Program Files\\Vellum\\vellum.exe";
constexpr char kProgramFolder[] = "C:\\Program Files\\Vellum";

void remove_program_keys() {
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Marlow");
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Brindle");
}

bool key_exists(const char* path) {
    return open_key_for_reading(HKEY_CURRENT_USER, path).valid();
}

// Name → type of every value of a key.
std::map<std::string, DWORD> value_types(const char* path) {
    std::map<std::string, DWORD> types;
    const RegKey key = open_key_for_reading(HKEY_CURRENT_USER, path);
    if (!key) return types;
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD length = sizeof name;
        DWORD type = 0;
        if (RegEnumValueA(key.get(), index, name, &length, nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS) break;
        types[std::string(name, length)] = type;
    }
    return types;
}

void put_dword(const char* path, const char* name, DWORD value) {
    const RegKey key = open_or_create_key(HKEY_CURRENT_USER, path);
    ASSERT_TRUE(key);
    ASSERT_EQ(RegSetValueExA(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value),
              ERROR_SUCCESS);
}

// Stores exactly `count` bytes of `data` with the given type.
void put_raw(const char* path, const char* name, DWORD type, const void* data, DWORD count) {
    const RegKey key = open_or_create_key(HKEY_CURRENT_USER, path);
    ASSERT_TRUE(key);
    ASSERT_EQ(RegSetValueExA(key.get(), name, 0, type, static_cast<const BYTE*>(data), count), ERROR_SUCCESS);
}

// A text stored with its terminating zero.
void put_string(const char* path, const char* name, const std::string& text) {
    put_raw(path, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

std::optional<DWORD> stored_dword(const char* path, const char* name) {
    const RegKey key = open_key_for_reading(HKEY_CURRENT_USER, path);
    DWORD value = 0;
    DWORD count = sizeof value;
    DWORD type = 0;
    if (!key || RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &count) !=
                    ERROR_SUCCESS)
        return std::nullopt;
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD)) << name;
    return value;
}

std::optional<std::string> stored_string(const char* path, const char* name) {
    const RegKey key = open_key_for_reading(HKEY_CURRENT_USER, path);
    char buffer[4096] = {};
    DWORD count = sizeof buffer - 1;
    if (!key || RegQueryValueExA(key.get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &count) !=
                    ERROR_SUCCESS)
        return std::nullopt;
    return std::string(buffer);
}

// Size the registry reports for a value (terminator included when stored).
DWORD stored_size(const char* path, const char* name) {
    const RegKey key = open_key_for_reading(HKEY_CURRENT_USER, path);
    DWORD count = 0;
    if (!key || RegQueryValueExA(key.get(), name, nullptr, nullptr, nullptr, &count) != ERROR_SUCCESS) return 0;
    return count;
}

Settings loaded(std::string_view module_path = kModulePath) {
    Settings s;
    load_settings(s, module_path);
    return s;
}

// A record in which every field differs from its default.
Settings every_field_changed() {
    Settings s;
    s.localPath = "D:\\保存\\表示";  // 表 ends in 0x5C
    s.internet = 1, s.localize = 1, s.recTreePut = 1, s.log = 1;
    s.recStatusModify = 2, s.recStatusLink = 100, s.recStatusLimit = 1, s.recStatusRetry = 10;
    s.recStatusRetryTimer = 60000;
    s.windowPosLeft = -8, s.windowPosTop = 20, s.windowPosRight = 1000, s.windowPosBottom = 700;
    s.recWindowPosLeft = -1920, s.recWindowPosTop = 40, s.recWindowPosRight = -100, s.recWindowPosBottom = 900;
    s.proxy = {"proxy.example", "3128", 1};
    s.recStart = {1, 6, 45, 1, LineList{"php", "asp"}};
    s.recScanString = "ソフト", s.recScanUplow = 1;
    s.dialUp = {1, "プロバイダ", "user", "pass word"};
    s.tunnelAllowedPorts = "563 8443 10000-10100";
    return s;
}

class SettingsStore : public ::testing::Test {
protected:
    void SetUp() override { remove_program_keys(); }
    void TearDown() override { remove_program_keys(); }
};

TEST_F(SettingsStore, FirstStartUsesEveryDefault) {
    const Settings s = loaded();
    // Every mode, flag, rectangle and text not named here is 0 or empty.
    Settings expected;
    expected.localPath = kProgramFolder;
    EXPECT_EQ(s, expected);
    EXPECT_EQ(s.localPath, kProgramFolder);
    EXPECT_EQ(s.internet | s.localize | s.recTreePut | s.log | s.proxy.proxy | s.dialUp.support, 0u);
    EXPECT_EQ(s.recStatusModify, 1u);
    EXPECT_EQ(s.recStatusLink, 1u);
    EXPECT_EQ(s.recStatusRetry, 5u);
    EXPECT_EQ(s.recStatusRetryTimer, 5000u);
    EXPECT_EQ(s.recStart.hour, 23u);
    EXPECT_EQ(s.recStart.minute, 0u);
    EXPECT_EQ(s.recStart.linkExtensions, (LineList{"html", "htm", "shtml"}));
}

TEST_F(SettingsStore, FirstStartWritesOnlyTheVersion) {
    loaded();
    const std::map<std::string, DWORD> expected{{"versionH", REG_DWORD}, {"versionL", REG_DWORD}};
    EXPECT_EQ(value_types(kSettingsKeyPath), expected);
    EXPECT_EQ(stored_dword(kSettingsKeyPath, "versionH"), 1u);
    EXPECT_EQ(stored_dword(kSettingsKeyPath, "versionL"), 3102u);
}

TEST_F(SettingsStore, VersionIsRewrittenWhenEitherPartDiffers) {
    put_dword(kSettingsKeyPath, "versionH", 1);
    put_dword(kSettingsKeyPath, "versionL", 3101);
    loaded();
    EXPECT_EQ(stored_dword(kSettingsKeyPath, "versionL"), 3102u);
    put_dword(kSettingsKeyPath, "versionH", 0);
    loaded();
    EXPECT_EQ(stored_dword(kSettingsKeyPath, "versionH"), 1u);
    EXPECT_EQ(stored_dword(kSettingsKeyPath, "versionL"), 3102u);
}

TEST_F(SettingsStore, RecordingImpliesOnline) {
    put_dword(kSettingsKeyPath, "localize", 1);
    put_dword(kSettingsKeyPath, "internet", 0);
    Settings s = loaded();
    EXPECT_EQ(s.localize, 1u);
    EXPECT_EQ(s.internet, 1u);

    put_dword(kSettingsKeyPath, "localize", 0);
    put_dword(kSettingsKeyPath, "internet", 1);
    s = loaded();
    EXPECT_EQ(s.localize, 0u);
    EXPECT_EQ(s.internet, 1u);
}

TEST_F(SettingsStore, UpstreamProxyPointingAtItselfIsTurnedOff) {
    put_string(kSettingsKeyPath, "proxy.address", "LOCALHOST");
    put_string(kSettingsKeyPath, "proxy.port", "8080");
    put_dword(kSettingsKeyPath, "proxy.proxy", 1);
    Settings s = loaded();
    EXPECT_EQ(s.proxy, (ProxySettings{"LOCALHOST", "8080", 0}));

    put_string(kSettingsKeyPath, "proxy.port", "8081");
    s = loaded();
    EXPECT_EQ(s.proxy, (ProxySettings{"LOCALHOST", "8081", 1}));
}

TEST_F(SettingsStore, LegacyKeyIsTakenOverAndRemoved) {
    put_string(kLegacyKeyPath, "localPath", "D:\\old pages");
    put_dword(kLegacyKeyPath, "recStatusLink", 3);
    put_string(kLegacyKeyPath, "proxy.address", "old.example");
    put_dword(kLegacyKeyPath, "versionH", 1);
    put_dword(kLegacyKeyPath, "versionL", 3000);
    put_dword("Software\\Brindle\\VellumBeta\\Nested", "x", 1);  // a tree, not a single key

    Settings s = loaded();
    EXPECT_EQ(s.localPath, "D:\\old pages");
    EXPECT_EQ(s.recStatusLink, 3u);
    EXPECT_EQ(s.proxy.address, "old.example");
    EXPECT_EQ(s.recStatusRetry, 5u);  // missing there: the default

    EXPECT_FALSE(key_exists(kLegacyCompanyKeyPath));
    // Until save only the version is under the new key.
    const std::map<std::string, DWORD> version_only{{"versionH", REG_DWORD}, {"versionL", REG_DWORD}};
    EXPECT_EQ(value_types(kSettingsKeyPath), version_only);

    save_settings(s);
    EXPECT_EQ(stored_string(kSettingsKeyPath, "localPath"), "D:\\old pages");
    EXPECT_EQ(stored_dword(kSettingsKeyPath, "recStatusLink"), 3u);
    EXPECT_EQ(loaded(), s);
}

TEST_F(SettingsStore, LegacyCompanyKeyStaysWhileOtherProductsUseIt) {
    put_dword(kLegacyKeyPath, "log", 1);
    // Two "Vellum" keys in a row: the second moves up to the index of the
    // first when that is deleted, and must not be skipped.
    put_dword("Software\\Brindle\\Alpha", "a", 1);
    put_dword("Software\\Brindle\\VellumOld", "a", 1);
    put_dword("Software\\Brindle\\Zeta", "a", 1);

    EXPECT_EQ(loaded().log, 1u);
    EXPECT_TRUE(key_exists(kLegacyCompanyKeyPath));
    EXPECT_FALSE(key_exists(kLegacyKeyPath));
    EXPECT_FALSE(key_exists("Software\\Brindle\\VellumOld"));
    EXPECT_TRUE(key_exists("Software\\Brindle\\Alpha"));
    EXPECT_TRUE(key_exists("Software\\Brindle\\Zeta"));
}

TEST_F(SettingsStore, LegacyKeyIsIgnoredOnceTheSettingsKeyExists) {
    put_dword(kSettingsKeyPath, "log", 0);
    put_dword(kLegacyKeyPath, "log", 1);
    EXPECT_EQ(loaded().log, 0u);
    EXPECT_TRUE(key_exists(kLegacyKeyPath));
}

TEST_F(SettingsStore, LinkExtensionListIsStoredWithItsLength) {
    save_settings(loaded());
    EXPECT_EQ(stored_string(kSettingsKeyPath, "recStart.linkExtList"), "html\r\nhtm\r\nshtml\r\n");
    EXPECT_EQ(stored_dword(kSettingsKeyPath, "recStart.linkExtListLen"), 18u);
}

TEST_F(SettingsStore, EmptiedLinkExtensionListIsNotWritten) {
    Settings s = loaded();
    s.recStart.linkExtensions.clear();
    save_settings(s);
    EXPECT_FALSE(stored_string(kSettingsKeyPath, "recStart.linkExtList"));
    EXPECT_FALSE(stored_dword(kSettingsKeyPath, "recStart.linkExtListLen"));
    EXPECT_EQ(loaded().recStart.linkExtensions, (LineList{"html", "htm", "shtml"}));

    s.recStart.linkExtensions = LineList{"php", "cgi"};
    save_settings(s);
    s.recStart.linkExtensions = LineList{"", ""};  // nothing but empty lines counts as empty
    save_settings(s);
    EXPECT_EQ(loaded().recStart.linkExtensions, (LineList{"php", "cgi"}));
}

TEST_F(SettingsStore, LinkExtensionListMustFitItsStoredLength) {
    put_string(kSettingsKeyPath, "recStart.linkExtList", "php\r\ncgi\r\n");
    put_dword(kSettingsKeyPath, "recStart.linkExtListLen", 10);
    EXPECT_EQ(loaded().recStart.linkExtensions, (LineList{"php", "cgi"}));

    put_dword(kSettingsKeyPath, "recStart.linkExtListLen", 9);  // text no longer fits
    EXPECT_EQ(loaded().recStart.linkExtensions, (LineList{"html", "htm", "shtml"}));

    put_dword(kSettingsKeyPath, "recStart.linkExtListLen", 0);  // no list stored
    EXPECT_EQ(loaded().recStart.linkExtensions, (LineList{"html", "htm", "shtml"}));

    // A wild length must not turn into a wild allocation.
    put_dword(kSettingsKeyPath, "recStart.linkExtListLen", 0xFFFFFFFF);
    EXPECT_EQ(loaded().recStart.linkExtensions, (LineList{"php", "cgi"}));
}

TEST_F(SettingsStore, LinkOnlyIsHeldAndSavedAsOne) {
    put_dword(kSettingsKeyPath, "recStart.link", 5);
    Settings s = loaded();
    EXPECT_EQ(s.recStart.linkOnly, 1u);
    s.recStart.linkOnly = 7;  // whatever a caller left there
    save_settings(s);
    EXPECT_EQ(stored_dword(kSettingsKeyPath, "recStart.link"), 1u);
}

TEST_F(SettingsStore, TextLongerThanItsBufferFallsBackToTheDefault) {
    put_string(kSettingsKeyPath, "localPath", "C:\\" + std::string(297, 'p'));
    EXPECT_EQ(loaded().localPath, kProgramFolder);

    // 259 characters and the terminator fill the buffer exactly.
    const std::string longest(259, 'a');
    put_string(kSettingsKeyPath, "proxy.address", longest);
    EXPECT_EQ(loaded().proxy.address, longest);

    const std::string too_long(260, 'a');
    put_string(kSettingsKeyPath, "proxy.address", too_long);
    EXPECT_EQ(loaded().proxy.address, "");
    // Without a terminator the 260 bytes fit, but leave no room for one. (A
    // non-zero byte after the data keeps the system from adding a terminator.)
    const std::string with_guard = too_long + "X";
    put_raw(kSettingsKeyPath, "proxy.address", REG_SZ, with_guard.c_str(), 260);
    ASSERT_EQ(stored_size(kSettingsKeyPath, "proxy.address"), 260u);
    EXPECT_EQ(loaded().proxy.address, "");
    put_raw(kSettingsKeyPath, "proxy.address", REG_SZ, with_guard.c_str(), 259);
    ASSERT_EQ(stored_size(kSettingsKeyPath, "proxy.address"), 259u);
    EXPECT_EQ(loaded().proxy.address, longest);
}

TEST_F(SettingsStore, TextIsStoredWithItsTerminator) {
    const RegKey key = open_or_create_key(HKEY_CURRENT_USER, kSettingsKeyPath);
    ASSERT_TRUE(key);
    for (const std::string& text : {std::string(), std::string("C:\\保存"), std::string(259, 'a')}) {
        ASSERT_TRUE(write_string(key.get(), "localPath", text));
        char bytes[300];
        std::memset(bytes, 'X', sizeof bytes);
        DWORD count = sizeof bytes;
        DWORD type = 0;
        ASSERT_EQ(RegQueryValueExA(key.get(), "localPath", nullptr, &type, reinterpret_cast<BYTE*>(bytes), &count),
                  ERROR_SUCCESS);
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(std::string(bytes, count), text + '\0') << text.size();
        EXPECT_EQ(read_string(key.get(), "localPath", "default"), text);
    }
}

TEST_F(SettingsStore, TextReadsTheSameWithAndWithoutTerminator) {
    // The byte after the data is not zero, so the system stores no terminator.
    const char unterminated[] = "host.exampleX";
    put_raw(kSettingsKeyPath, "proxy.address", REG_SZ, unterminated, 12);
    ASSERT_EQ(stored_size(kSettingsKeyPath, "proxy.address"), 12u);
    put_string(kSettingsKeyPath, "proxy.port", "3128");
    ASSERT_EQ(stored_size(kSettingsKeyPath, "proxy.port"), 5u);
    put_raw(kSettingsKeyPath, "dialUp.dialStr", REG_SZ, "", 0);

    const Settings s = loaded();
    EXPECT_EQ(s.proxy.address, "host.example");
    EXPECT_EQ(s.proxy.port, "3128");
    EXPECT_EQ(s.dialUp.dialStr, "");
}

TEST_F(SettingsStore, ProgramAtDriveRootSavesIntoTheRoot) {
    EXPECT_EQ(loaded("X:\\vellum.exe").localPath, "X:\\");
}

TEST_F(SettingsStore, EveryFieldRoundTrips) {
    loaded();
    const Settings changed = every_field_changed();
    save_settings(changed);
    EXPECT_EQ(loaded(), changed);

    // And back to the defaults, so that no value merely stayed from before.
    Settings defaults;
    defaults.localPath = kProgramFolder;
    save_settings(defaults);
    EXPECT_EQ(loaded(), defaults);
}

TEST_F(SettingsStore, SavedKeyHoldsExactlyTheStoredFormat) {
    save_settings(loaded());
    std::map<std::string, DWORD> expected;
    for (const char* name : {"localPath", "proxy.address", "proxy.port", "recStart.linkExtList", "recScan.string",
                             "dialUp.dialStr", "dialUp.idStr", "dialUp.passwordStr", "tunnel.allowedPorts"})
        expected[name] = REG_SZ;
    for (const char* name :
         {"versionH", "versionL", "localize", "internet", "recTreePut", "log", "recStatusModify", "recStatusLink",
          "recStatusLimit", "recStatusRetry", "recStatusRetryTimer", "windowPosLeft", "windowPosTop",
          "windowPosRight", "windowPosBottom", "recWindowPosLeft", "recWindowPosTop", "recWindowPosRight",
          "recWindowPosBottom", "proxy.proxy", "recStart.link", "recStart.hour", "recStart.minute",
          "recStart.hangUp", "recStart.linkExtListLen", "recScan.uplow", "dialUp.support"})
        expected[name] = REG_DWORD;
    EXPECT_EQ(value_types(kSettingsKeyPath), expected);
}

TEST_F(SettingsStore, ListeningAddressIsPublishedAndWithdrawn) {
    withdraw_listening_address();
    EXPECT_FALSE(key_exists(kSettingsKeyPath));  // withdrawing creates nothing

    ASSERT_TRUE(publish_listening_address(0x7F000001, 8080));
    EXPECT_EQ(stored_dword(kSettingsKeyPath, "ServerAddress"), 0x7F000001u);
    EXPECT_EQ(stored_dword(kSettingsKeyPath, "ServerPort"), 8080u);

    withdraw_listening_address();
    EXPECT_TRUE(value_types(kSettingsKeyPath).empty());
}

TEST_F(SettingsStore, NullKeyDoesNothing) {
    EXPECT_FALSE(open_or_create_key(nullptr, kSettingsKeyPath));
    EXPECT_FALSE(open_key_for_reading(nullptr, kSettingsKeyPath));
    EXPECT_FALSE(write_dword(nullptr, "log", 1));
    EXPECT_FALSE(write_string(nullptr, "localPath", "C:\\"));
    EXPECT_EQ(read_dword(nullptr, "log", 7u), 7u);
    EXPECT_EQ(read_string(nullptr, "localPath", "C:\\x"), "C:\\x");
    EXPECT_FALSE(open_key_for_reading(HKEY_CURRENT_USER, kSettingsKeyPath));
}

TEST_F(SettingsStore, NumberIsReadFromExactlyFourBytesOfAnyType) {
    const RegKey key = open_or_create_key(HKEY_CURRENT_USER, kSettingsKeyPath);
    ASSERT_TRUE(key);
    const unsigned char four[] = {0x34, 0x12, 0, 0};
    put_raw(kSettingsKeyPath, "binary", REG_BINARY, four, 4);
    EXPECT_EQ(read_dword(key.get(), "binary", 9), 0x1234u);

    put_raw(kSettingsKeyPath, "short", REG_BINARY, four, 2);
    EXPECT_EQ(read_dword(key.get(), "short", 9), 9u);
    const unsigned long long wide = 5;
    put_raw(kSettingsKeyPath, "wide", REG_QWORD, &wide, 8);
    EXPECT_EQ(read_dword(key.get(), "wide", 9), 9u);
    EXPECT_EQ(read_dword(key.get(), "missing", 9), 9u);
}

}  // namespace
}  // namespace vellum
