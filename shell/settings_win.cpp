#include "shell/settings_win.h"

#include "base/registry_win.h"

#include <algorithm>
#include <vector>

namespace vellum {
namespace {

// What a missing or unreadable recStart.linkExtList stands for.
constexpr char kDefaultLinkExtensionText[] = "html\r\nhtm\r\nshtml";

constexpr DWORD kMaxKeyNameBuffer = 256;  // registry key names are at most 255 characters

std::int32_t read_int(HKEY key, const char* name, std::int32_t default_value) {
    return static_cast<std::int32_t>(read_dword(key, name, static_cast<std::uint32_t>(default_value)));
}

void write_int(HKEY key, const char* name, std::int32_t value) {
    write_dword(key, name, static_cast<std::uint32_t>(value));
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
    const std::string default_folder = default_save_folder(module_path);

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
        const RegKey owner = open_or_create_key(HKEY_CURRENT_USER, path);
        const HKEY key = owner.get();
        s.localPath = read_string(key, "localPath", default_folder);
        version_high = read_dword(key, "versionH", 0);
        version_low = read_dword(key, "versionL", 0);
        s.localize = read_dword(key, "localize", s.localize);
        s.internet = read_dword(key, "internet", s.internet);
        s.recTreePut = read_dword(key, "recTreePut", s.recTreePut);
        s.log = read_dword(key, "log", s.log);
        s.recStatusModify = read_dword(key, "recStatusModify", s.recStatusModify);
        s.recStatusLink = read_dword(key, "recStatusLink", s.recStatusLink);
        s.recStatusLimit = read_dword(key, "recStatusLimit", s.recStatusLimit);
        s.recStatusRetry = read_dword(key, "recStatusRetry", s.recStatusRetry);
        s.recStatusRetryTimer = read_dword(key, "recStatusRetryTimer", s.recStatusRetryTimer);
        s.windowPosLeft = read_int(key, "windowPosLeft", s.windowPosLeft);
        s.windowPosTop = read_int(key, "windowPosTop", s.windowPosTop);
        s.windowPosRight = read_int(key, "windowPosRight", s.windowPosRight);
        s.windowPosBottom = read_int(key, "windowPosBottom", s.windowPosBottom);
        s.recWindowPosLeft = read_int(key, "recWindowPosLeft", s.recWindowPosLeft);
        s.recWindowPosTop = read_int(key, "recWindowPosTop", s.recWindowPosTop);
        s.recWindowPosRight = read_int(key, "recWindowPosRight", s.recWindowPosRight);
        s.recWindowPosBottom = read_int(key, "recWindowPosBottom", s.recWindowPosBottom);
        s.proxy.address = read_string(key, "proxy.address", s.proxy.address);
        s.proxy.port = read_string(key, "proxy.port", s.proxy.port);
        s.proxy.proxy = read_dword(key, "proxy.proxy", s.proxy.proxy);
        if (is_self_proxy(s.proxy)) s.proxy.proxy = 0;

        s.recStart.linkOnly = read_dword(key, "recStart.link", s.recStart.linkOnly) != 0 ? 1 : 0;
        s.recStart.hour = read_dword(key, "recStart.hour", s.recStart.hour);
        s.recStart.minute = read_dword(key, "recStart.minute", s.recStart.minute);
        s.recStart.hangUp = read_dword(key, "recStart.hangUp", s.recStart.hangUp);
        const std::uint32_t list_length = read_dword(key, "recStart.linkExtListLen", 0);
        const std::string list_text =
            list_length != 0
                ? read_string(key, "recStart.linkExtList", kDefaultLinkExtensionText, std::size_t{list_length} + 1)
                : std::string(kDefaultLinkExtensionText);
        s.recStart.linkExtensions = split_link_extensions(list_text);

        s.recScanString = read_string(key, "recScan.string", s.recScanString);
        s.recScanUplow = read_dword(key, "recScan.uplow", s.recScanUplow);
        s.dialUp.support = read_dword(key, "dialUp.support", s.dialUp.support);
        s.dialUp.dialStr = read_string(key, "dialUp.dialStr", s.dialUp.dialStr);
        s.dialUp.idStr = read_string(key, "dialUp.idStr", s.dialUp.idStr);
        s.dialUp.passwordStr = read_string(key, "dialUp.passwordStr", s.dialUp.passwordStr);
    }

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
    const RegKey owner = open_or_create_key(HKEY_CURRENT_USER, kSettingsKeyPath);
    if (!owner) return;
    const HKEY key = owner.get();
    write_string(key, "localPath", s.localPath);
    write_dword(key, "localize", s.localize);
    write_dword(key, "internet", s.internet);
    write_dword(key, "recTreePut", s.recTreePut);
    write_dword(key, "log", s.log);
    write_dword(key, "recStatusModify", s.recStatusModify);
    write_dword(key, "recStatusLimit", s.recStatusLimit);
    write_dword(key, "recStatusLink", s.recStatusLink);
    write_dword(key, "recStatusRetry", s.recStatusRetry);
    write_dword(key, "recStatusRetryTimer", s.recStatusRetryTimer);
    write_int(key, "windowPosLeft", s.windowPosLeft);
    write_int(key, "windowPosTop", s.windowPosTop);
    write_int(key, "windowPosRight", s.windowPosRight);
    write_int(key, "windowPosBottom", s.windowPosBottom);
    write_int(key, "recWindowPosLeft", s.recWindowPosLeft);
    write_int(key, "recWindowPosTop", s.recWindowPosTop);
    write_int(key, "recWindowPosRight", s.recWindowPosRight);
    write_int(key, "recWindowPosBottom", s.recWindowPosBottom);
    write_string(key, "proxy.address", s.proxy.address);
    write_string(key, "proxy.port", s.proxy.port);
    write_dword(key, "proxy.proxy", s.proxy.proxy);
    write_dword(key, "recStart.link", s.recStart.linkOnly != 0 ? 1 : 0);
    write_dword(key, "recStart.hour", s.recStart.hour);
    write_dword(key, "recStart.minute", s.recStart.minute);
    write_dword(key, "recStart.hangUp", s.recStart.hangUp);
    // An empty list is not stored: the next start falls back to the stored
    // list or the default, so a link-only run always knows page extensions.
    const std::string list_text = join_link_extensions(s.recStart.linkExtensions);
    if (!list_text.empty()) {
        write_dword(key, "recStart.linkExtListLen", static_cast<std::uint32_t>(list_text.size()));
        write_string(key, "recStart.linkExtList", list_text);
    }
    write_string(key, "recScan.string", s.recScanString);
    write_dword(key, "recScan.uplow", s.recScanUplow);
    write_dword(key, "dialUp.support", s.dialUp.support);
    write_string(key, "dialUp.dialStr", s.dialUp.dialStr);
    write_string(key, "dialUp.idStr", s.dialUp.idStr);
    write_string(key, "dialUp.passwordStr", s.dialUp.passwordStr);
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
