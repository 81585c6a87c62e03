// Lead-byte test of the active ANSI code page.
//
// Every double-byte-aware walk over a text (backslash searches in paths, the
// file-name escaper, the entity decoder) asks this one function whether a byte
// opens a two-byte character. The build chooses the implementation: on
// Windows it is the code page's own table (IsDBCSLeadByte), on the host it is
// code page 932's ranges. Any thread may call it.
#pragma once

namespace vellum {

bool is_lead_byte(unsigned char byte);

// Position of the last `ch` in text[0, length) that is not the trail byte of a
// two-byte character, or -1.
long find_last_single_byte(const char* text, long length, char ch);

}  // namespace vellum
