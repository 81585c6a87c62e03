// vellumie's one run: the questions, then the installation or the removal of
// the browser's context-menu entries, of the component's registration and of
// the native messaging host's manifests and keys (Chrome, Edge, Firefox).
// It talks to the user only through message boxes (base/prompt.h) captioned
// "Vellum IE拡張"; every failure is one warning and the end of the run, and
// what was done before it stays done.
//
// The program's only thread.
#pragma once

#include "vellumie/installer_paths.h"

namespace vellum {

// The per-user menu-extension key of the browser and the two entries, whose
// names are the menu texts the browser shows.
inline constexpr char kMenuExtKeyPath[] = "Software\\Microsoft\\Internet Explorer\\MenuExt";
inline constexpr char kPageEntryName[] = "Vellum：自動取得に予約";
inline constexpr char kParentPageEntryName[] = "Vellum：自動取得に予約（親フレーム）";

void run_installer(const InstallerPaths& paths);

}  // namespace vellum
