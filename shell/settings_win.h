// The settings in the registry: the small registry operations, loading and
// saving Settings, and the listening address published for the browser
// component.
//
// Everything lives under HKEY_CURRENT_USER "Software\Marlow\Vellum". A
// settings change stays in memory until save_settings at exit; between load
// and save the key is written only for the version values (at load) and for
// ServerAddress/ServerPort (while the proxy listens). load_settings,
// save_settings and the listening-address pair are called by the UI thread.
//
// The registry operations take a key that may be null; then they do nothing
// and report failure or return the default. Keys are returned as RegKey
// owners (null when the key can't be had).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/win_handles.h"
#include "shell/settings.h"

namespace vellum {

inline constexpr char kSettingsKeyPath[] = "Software\\Marlow\\Vellum";
// Where an older release kept its settings; read once and removed.
inline constexpr char kLegacyKeyPath[] = "Software\\Brindle\\Vellum";
inline constexpr char kLegacyCompanyKeyPath[] = "Software\\Brindle";

// Written beside the settings at load when the stored ones differ.
inline constexpr std::uint32_t kVersionHigh = 1;
inline constexpr std::uint32_t kVersionLow = 3102;

// Creates the key if needed (empty class, non-volatile, full access).
RegKey open_or_create_key(HKEY root, const char* path);
// Opens an existing key for reading only; null when it does not exist.
RegKey open_key_for_reading(HKEY root, const char* path);

// REG_DWORD, 4 bytes.
bool write_dword(HKEY key, const char* name, std::uint32_t value);
// Reads 4 bytes whatever the stored type; `default_value` when the value is
// missing or does not hold exactly 4 bytes.
std::uint32_t read_dword(HKEY key, const char* name, std::uint32_t default_value);
// REG_SZ whose data length is the text's length, without the terminator.
bool write_string(HKEY key, const char* name, const std::string& text);
// The text of a value stored with or without a terminating zero, cut at its
// first zero byte. `size` is the buffer of the stored format, terminator
// included: when the value is missing or its text does not fit, the result is
// `default_text`.
std::string read_string(HKEY key, const char* name, std::string_view default_text,
                        std::size_t size = kTextBufferSize);

// The full path of the running program file (GetModuleFileNameA).
std::string program_module_path();

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
