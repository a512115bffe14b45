#include "Glyphs.h"

#include <array>

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

// ---- Navigator glyphs -----------------------------------------------------------------------

} // namespace sorvanto
