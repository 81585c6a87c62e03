// The program's title: the main window's title, the tray tooltip, the caption
// of the message boxes and the signature of the pages the proxy answers by
// itself. Portable: any layer and any thread may use it.
#pragma once

namespace vellum {

inline constexpr char kProgramTitle[] = "Vellum 1.31b";

}  // namespace vellum
