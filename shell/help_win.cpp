#include "shell/help_win.h"

#include <htmlhelp.h>

#include "base/lead_byte.h"
#include "base/program_title.h"
#include "base/prompt.h"
#include "base/shell_open_win.h"

namespace vellum {
namespace {

using HtmlHelpFunction = HWND(WINAPI*)(HWND, LPCSTR, UINT, DWORD_PTR);

// The control is loaded once and kept for the run; a failed load is not
// tried again.
HtmlHelpFunction html_help() {
    static bool tried = false;
    static HtmlHelpFunction function = nullptr;
    if (!tried) {
        tried = true;
        if (HMODULE control = LoadLibraryA("hhctrl.ocx")) {
            function = reinterpret_cast<HtmlHelpFunction>(
                reinterpret_cast<void*>(GetProcAddress(control, "HtmlHelpA")));
            if (!function) FreeLibrary(control);
        }
    }
    return function;
}

std::string program_path() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, length < MAX_PATH ? length : 0);
}

}  // namespace

std::string manual_topic(const std::string& program_path) {
    const long slash = find_last_single_byte(program_path.data(), static_cast<long>(program_path.size()), '\\');
    return program_path.substr(0, static_cast<std::size_t>(slash + 1)) + "Velm131.chm>Velm131Help";
}

void open_manual() {
    HtmlHelpFunction function = html_help();
    if (!function) return;
    function(nullptr, manual_topic(program_path()).c_str(), HH_DISPLAY_TOPIC, 0);
}

void open_home_page(HWND owner) {
    shell_open(owner, kHomePageUrl);
}

void show_version_box(HWND owner) {
    show_message(owner, std::string(kProgramTitle) + "\n\n" + kVersionNote, "バージョン情報", MB_OK);
}

}  // namespace vellum
