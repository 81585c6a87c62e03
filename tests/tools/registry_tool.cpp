// registry_tool: reads and prepares registry keys for the end-to-end tests of
// tessel.dll and vellumie.exe, byte for byte. Key paths, value names and data
// are given and printed as hex of their code page 932 bytes ("-" for an empty
// one), so that no text conversion stands between a test and the registry.
//
//   dump ROOT PATH          print the key and everything below it, one line
//                           each, parents first:
//                             key <path below PATH>
//                             value <name> <type number> <data>
//                           or "absent" (exit code 1)
//   delete ROOT PATH        delete the key with everything below it
//   create ROOT PATH [volatile]
//   set ROOT PATH NAME TYPE DATA
//                           write a value (TYPE a number: 1 REG_SZ, 4 REG_DWORD)
// ROOT is HKCU, HKCR or HKLM.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string from_hex(const char* hex) {
    std::string bytes;
    if (std::strcmp(hex, "-") == 0) return bytes;
    for (std::size_t i = 0; hex[i] && hex[i + 1]; i += 2) {
        const char pair[3] = {hex[i], hex[i + 1], 0};
        bytes += static_cast<char>(std::strtoul(pair, nullptr, 16));
    }
    return bytes;
}

std::string to_hex(const void* data, std::size_t size) {
    if (size == 0) return "-";
    std::string hex;
    char pair[3];
    for (std::size_t i = 0; i < size; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", static_cast<const unsigned char*>(data)[i]);
        hex += pair;
    }
    return hex;
}

HKEY root_key(const char* name) {
    if (std::strcmp(name, "HKCU") == 0) return HKEY_CURRENT_USER;
    if (std::strcmp(name, "HKCR") == 0) return HKEY_CLASSES_ROOT;
    if (std::strcmp(name, "HKLM") == 0) return HKEY_LOCAL_MACHINE;
    return nullptr;
}

void dump_key(HKEY key, const std::string& below) {
    std::printf("key %s\n", to_hex(below.data(), below.size()).c_str());
    for (DWORD index = 0;; ++index) {
        char name[16384];
        DWORD name_size = sizeof name;
        DWORD type = 0;
        DWORD data_size = 0;
        if (RegEnumValueA(key, index, name, &name_size, nullptr, &type, nullptr, &data_size) != ERROR_SUCCESS) break;
        std::vector<unsigned char> data(data_size + 1);
        name_size = sizeof name;
        RegEnumValueA(key, index, name, &name_size, nullptr, &type, data.data(), &data_size);
        std::printf("value %s %lu %s\n", to_hex(name, name_size).c_str(), type, to_hex(data.data(), data_size).c_str());
    }
    for (DWORD index = 0;; ++index) {
        char name[1024];
        DWORD name_size = sizeof name;
        if (RegEnumKeyExA(key, index, name, &name_size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        HKEY child = nullptr;
        if (RegOpenKeyExA(key, name, 0, KEY_READ, &child) != ERROR_SUCCESS) continue;
        dump_key(child, below.empty() ? std::string(name) : below + "\\" + name);
        RegCloseKey(child);
    }
}

int dump(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        std::printf("absent\n");
        return 1;
    }
    dump_key(key, "");
    RegCloseKey(key);
    return 0;
}

int create(HKEY root, const std::string& path, bool is_volatile) {
    HKEY key = nullptr;
    const LONG result = RegCreateKeyExA(root, path.c_str(), 0, nullptr,
                                        is_volatile ? REG_OPTION_VOLATILE : REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                        nullptr, &key, nullptr);
    if (result != ERROR_SUCCESS) return 1;
    RegCloseKey(key);
    return 0;
}

int set(HKEY root, const std::string& path, const std::string& name, DWORD type, const std::string& data) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return 1;
    const LONG result = RegSetValueExA(key, name.empty() ? nullptr : name.c_str(), 0, type,
                                       reinterpret_cast<const BYTE*>(data.c_str()), static_cast<DWORD>(data.size()));
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4 || !root_key(argv[2])) {
        std::fprintf(stderr, "usage: registry_tool dump|delete|create|set ROOT PATH ...\n");
        return 2;
    }
    const std::string command = argv[1];
    HKEY root = root_key(argv[2]);
    const std::string path = from_hex(argv[3]);
    if (command == "dump") return dump(root, path);
    if (command == "delete") {
        const LONG result = RegDeleteTreeA(root, path.c_str());
        RegDeleteKeyA(root, path.c_str());
        return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND ? 0 : 1;
    }
    if (command == "create") return create(root, path, argc > 4 && std::strcmp(argv[4], "volatile") == 0);
    if (command == "set" && argc == 7)
        return set(root, path, from_hex(argv[4]), std::strtoul(argv[5], nullptr, 10), from_hex(argv[6]));
    return 2;
}
