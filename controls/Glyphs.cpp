#include "Glyphs.h"

#include <QPainter>

#include <array>
#include <cstring>

namespace sorvanto {

QImage BitPictureImage(const TBitPicture& picture, const QColor& ink) {
    QImage image(picture.width, picture.height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x)
            if (picture.rows[y] & (1u << (picture.width - 1 - x)))
                image.setPixelColor(x, y, ink);
    return image;
}

// ---- Grid indicator images ------------------------------------------------------------------

namespace {

constexpr std::uint16_t kArrowRows[kIndicatorImageHeight] = {
    0b000000, //
    0b100000, // #
    0b110000, // ##
    0b111000, // ###
    0b111100, // ####
    0b111110, // #####
    0b111100, // ####
    0b111000, // ###
    0b110000, // ##
    0b100000, // #
    0b000000, //
};

constexpr std::uint16_t kIBeamRows[kIndicatorImageHeight] = {
    0b000000, //
    0b110110, // ## ##
    0b001000, //   #
    0b001000, //   #
    0b001000, //   #
    0b001000, //   #
    0b001000, //   #
    0b001000, //   #
    0b001000, //   #
    0b110110, // ## ##
    0b000000, //
};

constexpr std::uint16_t kAsteriskRows[kIndicatorImageHeight] = {
    0b000000, //
    0b000000, //
    0b000000, //
    0b001000, //   #
    0b101010, // # # #
    0b011100, //  ###
    0b101010, // # # #
    0b001000, //   #
    0b000000, //
    0b000000, //
    0b000000, //
};

constexpr std::uint16_t kDotRows[kIndicatorImageHeight] = {
    0b000000, //
    0b000000, //
    0b000000, //
    0b000000, //
    0b011000, //  ##
    0b111100, // ####
    0b111100, // ####
    0b011000, //  ##
    0b000000, //
    0b000000, //
    0b000000, //
};

constexpr std::uint16_t kArrowDotRows[kIndicatorImageHeight] = {
    0b000000, //
    0b000000, //
    0b100000, // #
    0b110000, // ##
    0b111011, // ### ##
    0b111111, // ######
    0b111011, // ### ##
    0b110000, // ##
    0b100000, // #
    0b000000, //
    0b000000, //
};

constexpr std::array<TBitPicture, kIndicatorImageCount> kIndicatorPictures = {{
    {kIndicatorImageWidth, kIndicatorImageHeight, kArrowRows},
    {kIndicatorImageWidth, kIndicatorImageHeight, kIBeamRows},
    {kIndicatorImageWidth, kIndicatorImageHeight, kAsteriskRows},
    {kIndicatorImageWidth, kIndicatorImageHeight, kDotRows},
    {kIndicatorImageWidth, kIndicatorImageHeight, kArrowDotRows},
}};

} // namespace

const TBitPicture& IndicatorPicture(int index) {
    return kIndicatorPictures.at(static_cast<std::size_t>(index));
}

const QImage& IndicatorImage(int index) {
    static const std::array<QImage, kIndicatorImageCount> images = [] {
        std::array<QImage, kIndicatorImageCount> made;
        for (int i = 0; i < kIndicatorImageCount; ++i)
            made[static_cast<std::size_t>(i)] = BitPictureImage(IndicatorPicture(i), Qt::black);
        return made;
    }();
    return images.at(static_cast<std::size_t>(index));
}

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
