#pragma once

// The small one-bit pictures the data-aware widgets draw: the grid's indicator images and the
// navigator's button glyphs, kept as bit rows in the code.

#include <QColor>
#include <QImage>
#include <QPixmap>

#include <cstdint>

namespace sorvanto {

// A one-bit picture: one integer per row, the leftmost pixel in bit (width - 1); a set bit is
// ink, a clear bit is transparent.
struct TBitPicture {
    int width;
    int height;
    const std::uint16_t* rows;
};

// The picture drawn in ink on a transparent background.
QImage BitPictureImage(const TBitPicture& picture, const QColor& ink);

// ---- Grid indicator images ------------------------------------------------------------------

// By index: 0 arrow (browsing), 1 I-beam (editing), 2 asterisk (inserting), 3 dot and
// 4 arrow with dot (row multi-selection).
enum TIndicatorImage { DBGARROW, DBEDIT, DBINSERT, DBMULTIDOT, DBMULTIARROW };
inline constexpr int kIndicatorImageCount = 5;
inline constexpr int kIndicatorImageWidth = 6;
inline constexpr int kIndicatorImageHeight = 11;

const TBitPicture& IndicatorPicture(int index);
// The image in black, made once.
const QImage& IndicatorImage(int index);

// ---- Navigator glyphs ---------------------------------------------------------------------

// The glyph of a navigator button (index in TNavigateBtn order, 0 to 9): black on a transparent
// background, 14 by 13 pixels (10 by 13 for Prior and Next). The disabled image is the same
// shape greyed and embossed: a white copy one pixel down and right under a grey one.
QPixmap NavigatorGlyph(int index, bool disabled);

} // namespace sorvanto
