#include "panels/ImageServices.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <QPainter>

namespace qv {
namespace {

std::optional<QImage> Read(QImageReader& reader) {
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty() ||
        static_cast<std::int64_t>(size.width()) * size.height() > ImageServices::kMaxPixels) {
        return std::nullopt;
    }
    QImage image;
    if (!reader.read(&image) || image.isNull()) {
        return std::nullopt;
    }
    return image;
}

}  // namespace

std::optional<QImage> ImageServices::DecodeFile(const QString& path) {
    QImageReader reader(path);
    return Read(reader);
}

std::optional<QImage> ImageServices::DecodeBytes(const std::uint8_t* data, std::size_t length) {
    if (data == nullptr || length == 0 || length > static_cast<std::size_t>(INT32_MAX)) {
        return std::nullopt;
    }
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data),
                                                     static_cast<qsizetype>(length));
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    return Read(reader);
}

QImage ImageServices::Scaled(const QImage& image, QSize size, bool highQuality) {
    if (image.size() == size) {
        return image;
    }
    return image.scaled(size, Qt::IgnoreAspectRatio,
                        highQuality ? Qt::SmoothTransformation : Qt::FastTransformation);
}

bool ImageServices::Save(const QImage& image, const QString& path) {
    return image.save(path);
}

void ImageServices::DrawStretched(QPainter& painter, const QRect& target, const QImage& image) {
    painter.drawImage(target, image);
}

}  // namespace qv
