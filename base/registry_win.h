// The small registry operations every deliverable shares: the settings of
// vellum.exe, the registration of tessel.dll and the installer's keys.
//
// The operations take a key that may be null; then they do nothing and report
// failure or return the default. Keys are returned as RegKey owners (null
// when the key can't be had). Any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/win_handles.h"

namespace vellum {

// The text buffer of the stored format (MAX_PATH), terminator included.
inline constexpr std::size_t kRegistryTextBufferSize = 260;

// vellum.exe's settings key under HKEY_CURRENT_USER; tessel.dll finds the
// running proxy's address there.
inline constexpr char kProgramKeyPath[] = "Software\\Marlow\\Vellum";

// The openers store the system's error code in `*error` when it is given
// (ERROR_SUCCESS when the key was had): the installer shows it.
// Creates the key if needed (empty class, non-volatile, full access).
RegKey open_or_create_key(HKEY root, const char* path, LONG* error = nullptr);
// Opens an existing key with full access; null when it does not exist.
RegKey open_key_for_writing(HKEY root, const char* path);
// Opens an existing key for reading only; null when it does not exist.
RegKey open_key_for_reading(HKEY root, const char* path, LONG* error = nullptr);
// Removes the key with all its subkeys and values; true when it is gone.
bool delete_key_tree(HKEY root, const char* path);

// REG_DWORD, 4 bytes.
bool write_dword(HKEY key, const char* name, std::uint32_t value);
// Reads 4 bytes whatever the stored type; `default_value` when the value is
// missing or does not hold exactly 4 bytes.
std::uint32_t read_dword(HKEY key, const char* name, std::uint32_t default_value);
// The same, none when the value is missing or does not hold exactly 4 bytes.
std::optional<std::uint32_t> find_dword(HKEY key, const char* name);
// REG_SZ whose data length is the text's length, without the terminator.
bool write_string(HKEY key, const char* name, const std::string& text);
// The text of a value stored with or without a terminating zero, cut at its
// first zero byte. `size` is the buffer of the stored format, terminator
// included: when the value is missing or its text does not fit, the result is
// `default_text`.
std::string read_string(HKEY key, const char* name, std::string_view default_text,
                        std::size_t size = kRegistryTextBufferSize);

// The full path of the running program file (GetModuleFileNameA).
std::string program_module_path();

}  // namespace vellum
