// The ﾍﾙﾌﾟ menu's three small commands that open no dialog of their own: the
// manual (HTML Help), the product's home page (the default browser) and the
// version box. UI thread.
#pragma once

#include <windows.h>

#include <string>

namespace vellum {

// Where the home page command goes.
inline constexpr char kHomePageUrl[] = "http://vellum.marlow.example/";

// The text of the version box, below the program title.
inline constexpr char kVersionNote[] = "Webページを記録してオフラインで読むためのプロキシ";

// Opens Velm131.chm beside the program in its window type "Velm131Help",
// with no owner window. The HTML Help control is loaded at the first call;
// when it can't be, this does nothing, then and for the rest of the run. A
// missing help file gives no message either.
void open_manual();

// The help topic open_manual passes: the program file's folder with its
// backslash, "Velm131.chm>Velm131Help".
std::string manual_topic(const std::string& program_path);

// The home page, opened by the shell (base/shell_open_win.h).
void open_home_page(HWND owner);

// The version box: captioned "バージョン情報", no icon, OK.
void show_version_box(HWND owner);

}  // namespace vellum
