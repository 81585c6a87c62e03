// The font of the program's tree views: the dialogs' own face and size, so a
// tree reads like the dialogs beside it, with a row tall enough for every
// glyph (an underscore sits below the baseline and a row cut to the bare text
// height hides it). UI thread; the font lives until the process ends.
#pragma once

#include <windows.h>

namespace vellum {

// The dialogs' font ("ＭＳ Ｐゴシック", 9 points, Shift-JIS), made once; a
// pixel or two larger where the system's stand-in for the face draws no
// underscore at nine points. nullptr if the system can make no such font.
HFONT dialog_font();

// Gives `tree` the dialogs' font and a row height that holds the font's full
// cell and the 16-pixel state images.
void use_dialog_font(HWND tree);

// The row height `use_dialog_font` chooses for a font `cell_height` pixels
// high (ascent plus descent): a pixel of room above and below, at least the
// images' 16 and even, as tree views draw their lines best on even rows.
int tree_row_height(int cell_height);

}  // namespace vellum
