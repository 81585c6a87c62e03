// The three modes of the proxy and how every command changes them: offline
// (neither flag), online (`internet`), recording (`internet` and `localize`).
// Every change keeps recording => online. Pure functions over Settings; the
// main window calls them on the UI thread and then refreshes the display.
#pragma once

#include "shell/settings.h"

namespace vellum {

// Command 40110: toggles `internet`; turning it off turns `localize` off too.
void toggle_internet(Settings& s);
// Command 40113: toggles `localize`; turning it on turns `internet` on too.
void toggle_localize(Settings& s);
// A left click on the tray icon: offline -> online -> recording -> offline,
// after first clearing a recording flag left on without `internet`.
void step_mode(Settings& s);

// The icon resource that shows the mode, cyan-backed while connections live.
int mode_icon_id(const Settings& s, int live_connections);

}  // namespace vellum
