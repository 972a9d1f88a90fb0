// Decoding, scaling, drawing and saving of frames and panel images, on Qt's image classes.
// Safe from any thread (QImage, not QPixmap).
#pragma once

#include <QImage>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "session/JpegMarkers.h"

class QPainter;
class QRect;

namespace qv {

class ImageServices {
  public:
    // What a frame may cost: four times the largest instrument screen in pixels, and few
    // enough scans that the dearest accepted frame decodes in a few tens of milliseconds
    // (100 scans of an 800x600 screen; an ordinary progressive JPEG has ten).
    static constexpr int kMaxSide = 4096;
    static constexpr std::int64_t kMaxPixels = 1600LL * 1200LL;
    static constexpr int kMaxScans = 100;
    static constexpr std::int64_t kMaxScanPixels = kMaxScans * 800LL * 600LL;
    // Far above any screen's JPEG; a larger file is not read at all.
    static constexpr std::size_t kMaxFileBytes = 8u << 20;
    static constexpr JpegLimits kLimits{kMaxScans, kMaxSide, kMaxPixels, kMaxScanPixels};

    // JPEG only, whatever the name or the content suggests. Refused before decoding: other
    // formats, a file without its end marker, a size or scan count beyond the limits.
    static std::optional<QImage> DecodeFile(const QString& path);
    // A regular file of at most kMaxFileBytes, read whole without waiting on it; nothing for
    // anything else.
    static std::optional<std::vector<std::uint8_t>> ReadFile(const QString& path);
    static std::optional<QImage> DecodeBytes(const std::uint8_t* data, std::size_t length);
    // High quality when asked (the soft-key panel's scaled frames), else a plain stretch.
    static QImage Scaled(const QImage& image, QSize size, bool highQuality);
    // The encoder follows the file name's extension, at its default quality. The file is
    // replaced as the frame file is: a new private file beside it, renamed over it.
    static bool Save(const QImage& image, const QString& path);
    static void DrawStretched(QPainter& painter, const QRect& target, const QImage& image);
};

}  // namespace qv
