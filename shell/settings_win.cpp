#include "shell/settings_win.h"

#include <variant>

#include "base/registry_win.h"

namespace vellum {
namespace {

// What a missing or unreadable recStart.linkExtList stands for.
constexpr char kDefaultLinkExtensionText[] = "html\r\nhtm\r\nshtml";

constexpr DWORD kMaxKeyNameBuffer = 256;  // registry key names are at most 255 characters

// Every stored setting, once: its registry value, the member that holds it,
// and so its kind. A 32-bit number is a REG_DWORD (a signed one stored as
// its two's complement), a text a REG_SZ of at most 259 bytes, and the
// link-extension list a REG_SZ of its lines with its length in a REG_DWORD
// named after it with "Len" added. Saved in this order; loaded from the same
// table, each missing or unreadable value keeping the member's default.
template <auto Member>
auto& field(Settings& s) {
    return s.*Member;
}
template <auto Group, auto Member>
auto& field(Settings& s) {
    return (s.*Group).*Member;
}

using Member = std::variant<std::uint32_t& (*)(Settings&), std::int32_t& (*)(Settings&),
                            std::string& (*)(Settings&), LineList& (*)(Settings&)>;

enum class Rule {
    as_stored,
    zero_or_one,  // any non-zero value is held and saved as 1
};

struct StoredSetting {
    const char* name;
    Member member;
    Rule rule = Rule::as_stored;
};

const StoredSetting kStoredSettings[] = {
    {"localPath", &field<&Settings::localPath>},
    {"localize", &field<&Settings::localize>},
    {"internet", &field<&Settings::internet>},
    {"recTreePut", &field<&Settings::recTreePut>},
    {"log", &field<&Settings::log>},
    {"recStatusModify", &field<&Settings::recStatusModify>},
    {"recStatusLimit", &field<&Settings::recStatusLimit>},
    {"recStatusLink", &field<&Settings::recStatusLink>},
    {"recStatusRetry", &field<&Settings::recStatusRetry>},
    {"recStatusRetryTimer", &field<&Settings::recStatusRetryTimer>},
    {"windowPosLeft", &field<&Settings::windowPosLeft>},
    {"windowPosTop", &field<&Settings::windowPosTop>},
    {"windowPosRight", &field<&Settings::windowPosRight>},
    {"windowPosBottom", &field<&Settings::windowPosBottom>},
    {"recWindowPosLeft", &field<&Settings::recWindowPosLeft>},
    {"recWindowPosTop", &field<&Settings::recWindowPosTop>},
    {"recWindowPosRight", &field<&Settings::recWindowPosRight>},
    {"recWindowPosBottom", &field<&Settings::recWindowPosBottom>},
    {"proxy.address", &field<&Settings::proxy, &ProxySettings::address>},
    {"proxy.port", &field<&Settings::proxy, &ProxySettings::port>},
    {"proxy.proxy", &field<&Settings::proxy, &ProxySettings::proxy>},
    {"recStart.link", &field<&Settings::recStart, &AutoGetStart::linkOnly>, Rule::zero_or_one},
    {"recStart.hour", &field<&Settings::recStart, &AutoGetStart::hour>},
    {"recStart.minute", &field<&Settings::recStart, &AutoGetStart::minute>},
    {"recStart.hangUp", &field<&Settings::recStart, &AutoGetStart::hangUp>},
    {"recStart.linkExtList", &field<&Settings::recStart, &AutoGetStart::linkExtensions>},
    {"recScan.string", &field<&Settings::recScanString>},
    {"recScan.uplow", &field<&Settings::recScanUplow>},
    {"dialUp.support", &field<&Settings::dialUp, &DialUpSettings::support>},
    {"dialUp.dialStr", &field<&Settings::dialUp, &DialUpSettings::dialStr>},
    {"dialUp.idStr", &field<&Settings::dialUp, &DialUpSettings::idStr>},
    {"dialUp.passwordStr", &field<&Settings::dialUp, &DialUpSettings::passwordStr>},
    {"tunnel.allowedPorts", &field<&Settings::tunnelAllowedPorts>},
};

template <typename... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};

std::string length_name(const char* list_name) {
    return std::string(list_name) + "Len";
}

std::uint32_t ruled(std::uint32_t value, Rule rule) {
    return rule == Rule::zero_or_one ? (value != 0 ? 1 : 0) : value;
}

void load_value(HKEY key, const StoredSetting& setting, Settings& s) {
    const char* name = setting.name;
    std::visit(Overloaded{
                   [&](std::uint32_t& (*member)(Settings&)) {
                       std::uint32_t& value = member(s);
                       value = ruled(read_dword(key, name, value), setting.rule);
                   },
                   [&](std::int32_t& (*member)(Settings&)) {
                       std::int32_t& value = member(s);
                       value = static_cast<std::int32_t>(read_dword(key, name, static_cast<std::uint32_t>(value)));
                   },
                   [&](std::string& (*member)(Settings&)) {
                       std::string& value = member(s);
                       value = read_string(key, name, value);
                   },
                   [&](LineList& (*member)(Settings&)) {
                       // The text is read into a buffer of its stored length
                       // and its terminator: a longer text is not the list.
                       const std::uint32_t length = read_dword(key, length_name(name).c_str(), 0);
                       const std::string text =
                           length != 0 ? read_string(key, name, kDefaultLinkExtensionText, std::size_t{length} + 1)
                                       : std::string(kDefaultLinkExtensionText);
                       member(s) = split_link_extensions(text);
                   },
               },
               setting.member);
}

void save_value(HKEY key, const StoredSetting& setting, Settings& s) {
    const char* name = setting.name;
    std::visit(Overloaded{
                   [&](std::uint32_t& (*member)(Settings&)) { write_dword(key, name, ruled(member(s), setting.rule)); },
                   [&](std::int32_t& (*member)(Settings&)) {
                       write_dword(key, name, static_cast<std::uint32_t>(member(s)));
                   },
                   [&](std::string& (*member)(Settings&)) { write_string(key, name, member(s)); },
                   [&](LineList& (*member)(Settings&)) {
                       // An empty list is not stored: the next start falls
                       // back to the stored list or the default, so a
                       // link-only run always knows page extensions.
                       const std::string text = join_link_extensions(member(s));
                       if (text.empty()) return;
                       write_dword(key, length_name(name).c_str(), static_cast<std::uint32_t>(text.size()));
                       write_string(key, name, text);
                   },
               },
               setting.member);
}

// Removes the older release's "Vellum..." keys under the company key, and the
// company key itself once nothing else is left in it.
void remove_legacy_keys() {
    RegKey company = open_key_for_writing(HKEY_CURRENT_USER, kLegacyCompanyKeyPath);
    if (!company) return;
    DWORD index = 0;
    for (;;) {
        char name[kMaxKeyNameBuffer];
        DWORD length = kMaxKeyNameBuffer;
        if (RegEnumKeyExA(company.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        // A deleted key's successor moves up to this index. The whole tree
        // goes (a plain key delete refuses a key with subkeys); a key that
        // can't be deleted is stepped over, or the walk would never end.
        const bool ours = std::string_view(name, length).starts_with("Vellum");
        if (ours && RegDeleteTreeA(company.get(), name) == ERROR_SUCCESS) continue;
        ++index;
    }
    DWORD subkeys = 0;
    const bool empty = RegQueryInfoKeyA(company.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                        nullptr, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
                       subkeys == 0;
    company.reset();
    if (empty) RegDeleteKeyA(HKEY_CURRENT_USER, kLegacyCompanyKeyPath);
}

}  // namespace


void load_settings(Settings& s, std::string_view module_path) {
    s = Settings{};
    s.localPath = default_save_folder(module_path);

    const char* path = kSettingsKeyPath;
    bool migrate = false;
    if (!open_key_for_reading(HKEY_CURRENT_USER, kSettingsKeyPath) &&
        open_key_for_reading(HKEY_CURRENT_USER, kLegacyKeyPath)) {
        path = kLegacyKeyPath;
        migrate = true;
    }

    std::uint32_t version_high = 0;
    std::uint32_t version_low = 0;
    {
        const RegKey key = open_or_create_key(HKEY_CURRENT_USER, path);
        version_high = read_dword(key.get(), "versionH", 0);
        version_low = read_dword(key.get(), "versionL", 0);
        for (const StoredSetting& setting : kStoredSettings) load_value(key.get(), setting, s);
    }

    // The program never forwards to itself.
    if (is_self_proxy(s.proxy)) s.proxy.proxy = 0;
    // Recording means fetching from the network.
    if (s.localize && !s.internet) s.internet = 1;

    // The values read from the legacy key reach the settings key at save.
    if (migrate) remove_legacy_keys();

    if (version_high != kVersionHigh || version_low != kVersionLow) {
        const RegKey key = open_or_create_key(HKEY_CURRENT_USER, kSettingsKeyPath);
        write_dword(key.get(), "versionH", kVersionHigh);
        write_dword(key.get(), "versionL", kVersionLow);
    }
}

void load_settings(Settings& s) {
    load_settings(s, program_module_path());
}

void save_settings(const Settings& s) {
    const RegKey key = open_or_create_key(HKEY_CURRENT_USER, kSettingsKeyPath);
    if (!key) return;
    Settings record = s;  // the table reaches its members through a writable record
    for (const StoredSetting& setting : kStoredSettings) save_value(key.get(), setting, record);
}

bool publish_listening_address(std::uint32_t host_order_address, std::uint16_t port) {
    const RegKey key = open_or_create_key(HKEY_CURRENT_USER, kSettingsKeyPath);
    const bool address_written = write_dword(key.get(), "ServerAddress", host_order_address);
    const bool port_written = write_dword(key.get(), "ServerPort", port);
    return address_written && port_written;
}

void withdraw_listening_address() {
    HKEY raw = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_SET_VALUE, &raw) != ERROR_SUCCESS) return;
    const RegKey key(raw);
    RegDeleteValueA(key.get(), "ServerAddress");
    RegDeleteValueA(key.get(), "ServerPort");
}

}  // namespace vellum
