#include "widgets/BitmapToRegion.h"

#include <QImage>
#include <QRect>
#include <vector>

namespace qv {

namespace {

constexpr QRgb kWhite = 0x00FFFFFFu;

void Merge(QRegion& result, bool& haveResult, std::vector<QRect>& rects) {
    QRegion chunk;
    if (!rects.empty()) {
        // Rows are y-x sorted, one pixel high and never abut: what setRects asks for.
        chunk.setRects(rects.data(), static_cast<int>(rects.size()));
    }
    result = haveResult ? result.united(chunk) : chunk;
    haveResult = true;
    rects.clear();
}

}  // namespace

std::optional<QRegion> BitmapToRegion(const QImage& image) {
    if (image.isNull()) {
        return std::nullopt;
    }
    // 32 bits a pixel, colour bytes not premultiplied, so white stays 255, 255, 255.
    const QImage pixels =
        (image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32)
            ? image
            : image.convertToFormat(QImage::Format_ARGB32);
    if (pixels.isNull()) {
        return std::nullopt;
    }
    const int width = pixels.width();
    const int height = pixels.height();

    std::vector<QRect> rects;
    rects.reserve(kRegionChunk);
    QRegion result;
    bool haveResult = false;
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(pixels.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            const int x0 = x;
            while (x < width && (row[x] & kWhite) != kWhite) {
                ++x;
            }
            if (x > x0) {
                rects.emplace_back(x0, y, x - x0, 1);
                if (static_cast<int>(rects.size()) == kRegionChunk) {
                    Merge(result, haveResult, rects);
                }
            }
        }
    }
    Merge(result, haveResult, rects);
    return result;
}

}  // namespace qv
