// What a tool outside the program may ask the auto-get window (class
// VELLUM_REC) by WM_COPYDATA, now that the tree view holds items only for the
// nodes a user can reach. Shared with tests/tools/vellum_probe.cpp; no
// other header may be included here.
//
// kOutlineRequest: lpData holds the asker's window handle (8 bytes). The
//   window answers at once with WM_COPYDATA kOutlineReply to that window:
//   one line per node of the page tree in pre-order, "depth image label\n"
//   (depth 0 for a base URL, the state image shown, the label's bytes).
// kSelectRequest: lpData holds a 32-bit index in that order; the node is
//   selected as TVM_SELECTITEM would select its item. TRUE when it exists.
#pragma once

#include <cstdint>

namespace vellum {

inline constexpr std::uintptr_t kOutlineRequest = 0x56500001;
inline constexpr std::uintptr_t kOutlineReply = 0x56500002;
inline constexpr std::uintptr_t kSelectRequest = 0x56500003;

}  // namespace vellum
