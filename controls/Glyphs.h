#pragma once

// The small one-bit pictures the data-aware widgets draw: the grid's indicator images and the
// navigator's button glyphs, kept as bit rows in the code.

#include <QPixmap>

namespace sorvanto {

// ---- Navigator glyphs ---------------------------------------------------------------------

// The glyph of a navigator button (index in TNavigateBtn order, 0 to 9): black on a transparent
// background, 14 by 13 pixels (10 by 13 for Prior and Next). The disabled image is the same
// shape greyed and embossed: a white copy one pixel down and right under a grey one.
QPixmap NavigatorGlyph(int index, bool disabled);

} // namespace sorvanto
