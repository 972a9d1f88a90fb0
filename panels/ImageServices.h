// Decoding, scaling, drawing and saving of frames and panel images, on Qt's image classes.
// Safe from any thread (QImage, not QPixmap).
#pragma once

#include <QImage>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <optional>

class QPainter;
class QRect;

namespace qv {

class ImageServices {
  public:
    // Larger images are refused before their pixels are allocated.
    static constexpr std::int64_t kMaxPixels = 4096LL * 4096LL;

    static std::optional<QImage> DecodeFile(const QString& path);
    static std::optional<QImage> DecodeBytes(const std::uint8_t* data, std::size_t length);
    // High quality when asked (the soft-key panel's scaled frames), else a plain stretch.
    static QImage Scaled(const QImage& image, QSize size, bool highQuality);
    // The encoder follows the file name's extension, at its default quality.
    static bool Save(const QImage& image, const QString& path);
    static void DrawStretched(QPainter& painter, const QRect& target, const QImage& image);
};

}  // namespace qv
