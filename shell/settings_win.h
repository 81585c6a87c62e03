// The settings in the registry: the small registry operations, loading and
// saving Settings, and the listening address published for the browser
// component.
//
// Everything lives under HKEY_CURRENT_USER "Software\Marlow\Vellum". A
// settings change stays in memory until save_settings at exit; between load
// and save the key is written only for the version values (at load) and for
// ServerAddress/ServerPort (while the proxy listens). load_settings,
// save_settings and the listening-address pair are called by the UI thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/registry_win.h"
#include "shell/settings.h"

namespace vellum {

inline constexpr char kSettingsKeyPath[] = "Software\\Marlow\\Vellum";
// Where an older release kept its settings; read once and removed.
inline constexpr char kLegacyKeyPath[] = "Software\\Brindle\\Vellum";
inline constexpr char kLegacyCompanyKeyPath[] = "Software\\Brindle";

// Written beside the settings at load when the stored ones differ.
inline constexpr std::uint32_t kVersionHigh = 1;
inline constexpr std::uint32_t kVersionLow = 3102;

// Replaces `s` by the stored settings, the defaults filling what is missing;
// the default save folder is the folder of `module_path`. Takes over and then
// removes the legacy key when the settings key does not exist yet, and writes
// the version values when they differ.
void load_settings(Settings& s, std::string_view module_path);
// The same for the running program.
void load_settings(Settings& s);

// Writes every setting into the settings key; when the key can't be created,
// nothing is saved. An empty link-extension list is not written, so the one
// stored before (or the default) comes back at the next start.
void save_settings(const Settings& s);

// ServerAddress (IPv4 address in host byte order, 127.0.0.1 = 0x7F000001) and
// ServerPort, by which the browser component finds the running proxy. Written
// when listening has started.
bool publish_listening_address(std::uint32_t host_order_address, std::uint16_t port);
// Deletes both values in the close sequence; creates no key.
void withdraw_listening_address();

}  // namespace vellum
