// The shape of a key image: every pixel that is not pure white.
#pragma once

#include <QRegion>
#include <optional>

class QImage;

namespace qv {

// Exact to the pixel: one rectangle per run of non-white pixels in a row, rows never merged,
// built in chunks of at most kRegionChunk rectangles joined by union. Only (255, 255, 255) is
// transparent; the alpha byte is not looked at. An all-white image gives an empty region;
// nothing (nullopt) when the image is null or its pixels cannot be had.
std::optional<QRegion> BitmapToRegion(const QImage& image);

inline constexpr int kRegionChunk = 2000;

}  // namespace qv
