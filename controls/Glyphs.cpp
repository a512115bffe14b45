#include "Glyphs.h"

#include <QImage>
#include <QPainter>

#include <array>
#include <cstring>

namespace sorvanto {

// ---- Navigator glyphs ---------------------------------------------------------------------

namespace {

constexpr int kGlyphHeight = 13;
using TGlyphRows = std::array<const char*, kGlyphHeight>;

// One row per line, "#" a black pixel; in TNavigateBtn order.
constexpr std::array<TGlyphRows, 10> kNavigatorGlyphs{{
    // First: a bar and a triangle pointing left
    {"..............", "..............", "...##......#..", "...##.....##..", "...##....###..",
     "...##...####..", "...##..#####..", "...##...####..", "...##....###..", "...##.....##..",
     "...##......#..", "..............", ".............."},
    // Prior: a triangle pointing left
    {"..........", "..........", "......#...", ".....##...", "....###...", "...####...",
     "..#####...", "...####...", "....###...", ".....##...", "......#...", "..........",
     ".........."},
    // Next: a triangle pointing right
    {"..........", "..........", "...#......", "...##.....", "...###....", "...####...",
     "...#####..", "...####...", "...###....", "...##.....", "...#......", "..........",
     ".........."},
    // Last: a triangle pointing right and a bar
    {"..............", "..............", "..#......##...", "..##.....##...", "..###....##...",
     "..####...##...", "..#####..##...", "..####...##...", "..###....##...", "..##.....##...",
     "..#......##...", "..............", ".............."},
    // Insert: a plus sign
    {"..............", "..............", "......##......", "......##......", "......##......",
     "..##########..", "..##########..", "......##......", "......##......", "......##......",
     "..............", "..............", ".............."},
    // Delete: a minus sign
    {"..............", "..............", "..............", "..............", "..............",
     "..##########..", "..##########..", "..............", "..............", "..............",
     "..............", "..............", ".............."},
    // Edit: a triangle pointing up
    {"..............", "..............", "..............", "..............", "......##......",
     ".....####.....", "....######....", "...########...", "..##########..", "..............",
     "..............", "..............", ".............."},
    // Post: a check mark
    {"..............", "..............", "...........#..", "..........##..", ".........###..",
     "..#.....###...", "..##...###....", "..###.###.....", "...#####......", "....###.......",
     ".....#........", "..............", ".............."},
    // Cancel: a cross
    {"..............", "..............", "..##......##..", "..###....###..", "...###..###...",
     "....######....", ".....####.....", ".....####.....", "....######....", "...###..###...",
     "..###....###..", "..##......##..", ".............."},
    // Refresh: a circular arrow, its head at the top right
    {"..............", "..............", ".....####.#...", "...##....###..", "..##.....###..",
     "..#.....####..", "..#...........", "..#........#..", "..##......##..", "...##....##...",
     ".....####.....", "..............", ".............."},
}};

// The shape in one colour on a transparent image.
QImage ShapeImage(const TGlyphRows& rows, QColor colour) {
    int width = static_cast<int>(std::strlen(rows[0]));
    QImage image(width, kGlyphHeight, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    for (int y = 0; y < kGlyphHeight; ++y)
        for (int x = 0; x < width; ++x)
            if (rows[static_cast<size_t>(y)][x] == '#')
                image.setPixelColor(x, y, colour);
    return image;
}

} // namespace

QPixmap NavigatorGlyph(int index, bool disabled) {
    const TGlyphRows& rows = kNavigatorGlyphs.at(static_cast<size_t>(index));
    if (!disabled)
        return QPixmap::fromImage(ShapeImage(rows, Qt::black));
    QImage shape = ShapeImage(rows, QColor(128, 128, 128));
    QImage image(shape.size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.drawImage(1, 1, ShapeImage(rows, Qt::white));
        painter.drawImage(0, 0, shape);
    }
    return QPixmap::fromImage(image);
}

} // namespace sorvanto
