#include "vellumie/installer_win.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "base/format_win.h"
#include "base/prompt.h"
#include "base/registry_win.h"
#include "tessel/identity_win.h"
#include "vellumhost/host_manifest.h"

namespace vellum {
namespace {

constexpr char kCaption[] = "Vellum IE拡張";
// Every entry of this system in the menu-extension key begins so.
constexpr char kEntryPrefix[] = "Vellum";
// Key names are at most 255 characters; the buffer is the walk's limit.
constexpr DWORD kEntryNameSize = 1024;

bool ask(const char* text) {
    return show_message(nullptr, text, kCaption, MB_YESNO | MB_ICONQUESTION | MB_SYSTEMMODAL) == IDYES;
}
void fail(const std::string& text) { show_message(nullptr, text, kCaption, MB_OK | MB_ICONWARNING | MB_SYSTEMMODAL); }
void report(const char* text) { show_message(nullptr, text, kCaption, MB_OK | MB_SYSTEMMODAL); }

// Loads the component beside the installer and calls one of its
// registration entry points; false when it can't be loaded, lacks the entry
// point or reports a failure.
bool call_component(const std::string& path, const char* entry_point) {
    HMODULE component = LoadLibraryA(path.c_str());
    if (!component) return false;
    const auto call = reinterpret_cast<RegistrationEntryPoint>(
        reinterpret_cast<void (*)()>(GetProcAddress(component, entry_point)));
    const bool succeeded = call && SUCCEEDED(call());
    FreeLibrary(component);
    return succeeded;
}

// One menu entry: its key under the menu-extension key, the page as its
// default text and the page's own context menu as the one it appears in.
bool write_entry(HKEY menu_ext, const char* name, const std::string& page, const char* failure_format) {
    LONG error = ERROR_SUCCESS;
    RegKey entry = open_or_create_key(menu_ext, name, &error);
    if (!entry) {
        fail(format_text(failure_format, error));
        return false;
    }
    write_string(entry.get(), nullptr, page);
    write_dword(entry.get(), "contexts", 1);
    return true;
}

// The keys above the menu-extension key must exist: each is opened for
// reading and closed again in turn.
bool check_parent_keys() {
    struct Parent {
        const char* path;
        const char* failure_format;
    };
    static const Parent kParents[] = {
        {"Software", "レジストリ：HKEY_CURRENT_USER\\Software\r\nオープンできません！\r\nエラーコード：%X"},
        {"Software\\Microsoft",
         "レジストリ：HKEY_CURRENT_USER\\Software\\Microsoft\r\nオープンできません！\r\nエラーコード：%X"},
        {"Software\\Microsoft\\Internet Explorer",
         "レジストリ：HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Explorer\r\nオープンできません！\r\n"
         "エラーコード：%X"},
    };
    for (const Parent& parent : kParents) {
        LONG error = ERROR_SUCCESS;
        if (!open_key_for_reading(HKEY_CURRENT_USER, parent.path, &error)) {
            fail(format_text(parent.failure_format, error));
            return false;
        }
    }
    return true;
}

// The native messaging host's keys, each naming the manifest its browser reads.
struct HostKey {
    const char* path;
    std::string InstallerPaths::*manifest;
};
const HostKey kHostKeys[] = {
    {kChromeHostKeyPath, &InstallerPaths::chrome_host_manifest},
    {kEdgeHostKeyPath, &InstallerPaths::chrome_host_manifest},
    {kFirefoxHostKeyPath, &InstallerPaths::firefox_host_manifest},
};

// A manifest replaced whole: a browser never reads half of one.
bool write_manifest(const std::string& path, const std::string& text) {
    const std::string receiving = path + ".new";
    LONG error = ERROR_SUCCESS;
    {
        FileHandle file(CreateFileA(receiving.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        const bool whole = file && WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written,
                                             nullptr) && written == text.size();
        if (!whole) {
            error = static_cast<LONG>(GetLastError());
            // A short write that the system calls a success.
            if (error == ERROR_SUCCESS) error = ERROR_WRITE_FAULT;
        }
    }
    if (error == ERROR_SUCCESS && !MoveFileExA(receiving.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING))
        error = static_cast<LONG>(GetLastError());
    if (error == ERROR_SUCCESS) return true;
    DeleteFileA(receiving.c_str());
    fail(format_text("ファイル：%s\r\n作成できません！\r\nエラーコード：%X", path.c_str(), error));
    return false;
}

// The manifests beside the host, then each browser's key pointing at its own.
bool install_host(const InstallerPaths& paths) {
    if (!write_manifest(paths.chrome_host_manifest, chrome_host_manifest()) ||
        !write_manifest(paths.firefox_host_manifest, firefox_host_manifest()))
        return false;
    for (const HostKey& host_key : kHostKeys) {
        LONG error = ERROR_SUCCESS;
        RegKey key = open_or_create_key(HKEY_CURRENT_USER, host_key.path, &error);
        if (!key) {
            fail(format_text("レジストリ：HKEY_CURRENT_USER\\%s\r\n作成できません！\r\nエラーコード：%X", host_key.path,
                             error));
            return false;
        }
        write_string(key.get(), nullptr, paths.*host_key.manifest);
    }
    return true;
}

// What is gone already is no failure; nothing here stops the removal.
void remove_host(const InstallerPaths& paths) {
    for (const HostKey& host_key : kHostKeys) delete_key_tree(HKEY_CURRENT_USER, host_key.path);
    DeleteFileA(paths.chrome_host_manifest.c_str());
    DeleteFileA(paths.firefox_host_manifest.c_str());
}

void install(const InstallerPaths& paths) {
    if (!check_parent_keys()) return;
    LONG error = ERROR_SUCCESS;
    RegKey menu_ext = open_key_for_writing(HKEY_CURRENT_USER, kMenuExtKeyPath);
    if (!menu_ext) menu_ext = open_or_create_key(HKEY_CURRENT_USER, kMenuExtKeyPath, &error);
    if (!menu_ext) {
        fail(format_text("レジストリ：HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Explorer\\MenuExt\r\n"
                         "作成できません！\r\nエラーコード：%X",
                         error));
        return;
    }
    if (!call_component(paths.component, kRegisterEntryPoint)) {
        fail("tessel.dll をインストールできません！");
        return;
    }
    if (!write_entry(menu_ext.get(), kPageEntryName, paths.page,
                     "レジストリ：HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Explorer\\MenuExt\\"
                     "Vellum：自動取得に予約\r\n作成できません！\r\nエラーコード：%X"))
        return;
    if (!write_entry(menu_ext.get(), kParentPageEntryName, paths.parent_page,
                     "レジストリ：HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Explorer\\MenuExt\\"
                     "Vellum：自動取得に予約（親フレーム）\r\n作成できません！\r\nエラーコード：%X"))
        return;
    if (!install_host(paths)) return;
    report("IE拡張をインストールしました");
}

// Deletes every subkey whose name begins with "Vellum". A deleted key moves
// the later ones down, so the same index is read again; one that can't be
// deleted is passed over, or the walk would read it for ever.
void remove_entries(HKEY menu_ext) {
    DWORD index = 0;
    for (;;) {
        char name[kEntryNameSize];
        DWORD length = kEntryNameSize;
        if (RegEnumKeyExA(menu_ext, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return;
        const bool ours = std::strncmp(name, kEntryPrefix, sizeof kEntryPrefix - 1) == 0;
        if (!ours || !delete_key_tree(menu_ext, name)) ++index;
    }
}

void uninstall(const InstallerPaths& paths) {
    if (!call_component(paths.component, kUnregisterEntryPoint)) {
        fail("tessel.dll をアンインストールできません！");
        return;
    }
    LONG error = ERROR_SUCCESS;
    RegKey menu_ext = open_or_create_key(HKEY_CURRENT_USER, kMenuExtKeyPath, &error);
    if (!menu_ext) {
        fail(format_text("レジストリ：HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Explorer\\MenuExt\r\n"
                         "アクセスできません！\r\nエラーコード：%X",
                         error));
        return;
    }
    remove_entries(menu_ext.get());
    remove_host(paths);
    report("IE拡張をアンインストールしました");
}

}  // namespace

void run_installer(const InstallerPaths& paths) {
    if (!ask("全ての Internet Explorer を閉じてありますか")) {
        fail("全ての Internet Explorer を閉じてから再度実行願います");
        return;
    }
    if (ask("IE拡張のインストールを実行しますか\n\nアンインストールの場合は、「いいえ」を実行して下さい")) {
        install(paths);
    } else if (ask("IE拡張のアンインストールを実行しますか")) {
        uninstall(paths);
    }
}

}  // namespace vellum
