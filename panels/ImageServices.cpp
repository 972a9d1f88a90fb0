#include "panels/ImageServices.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <cerrno>
#include <vector>

#include "link/Files.h"

namespace qv {
namespace {

// Qt's own allocation check, in megabytes, as a second fence behind the pixel limit.
constexpr int kAllocationLimitMb = static_cast<int>(ImageServices::kMaxPixels * 4 / (1 << 20)) + 1;

// A regular file of at most kMaxFileBytes, read whole. Opened without waiting, so a pipe or
// device under a frame's name cannot hold the worker.
std::optional<std::vector<std::uint8_t>> ReadSmallFile(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat st {};
    std::optional<std::vector<std::uint8_t>> out;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0 &&
        static_cast<std::uint64_t>(st.st_size) <= ImageServices::kMaxFileBytes) {
        const auto size = static_cast<std::size_t>(st.st_size);
        // One byte more than fstat gave tells a file that grew meanwhile: refused.
        std::vector<std::uint8_t> bytes(size + 1);
        std::size_t got = 0;
        bool failed = false;
        while (got < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            failed = n < 0;
            if (n <= 0) {
                break;
            }
            got += static_cast<std::size_t>(n);
        }
        if (!failed && got <= size) {
            bytes.resize(got);
            out = std::move(bytes);
        }
    }
    ::close(fd);
    return out;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> ImageServices::ReadFile(const QString& path) {
    return ReadSmallFile(path);
}

std::optional<QImage> ImageServices::DecodeFile(const QString& path) {
    const auto bytes = ReadSmallFile(path);
    if (!bytes) {
        return std::nullopt;
    }
    return DecodeBytes(bytes->data(), bytes->size());
}

std::optional<QImage> ImageServices::DecodeBytes(const std::uint8_t* data, std::size_t length) {
    if (data == nullptr || length == 0 || length > kMaxFileBytes) {
        return std::nullopt;
    }
    const JpegLayout layout = WalkJpegMarkers(data, length, kLimits);
    if (!layout.ok()) {
        return std::nullopt;
    }
    // The decoder gets the walked bytes only, up to the end marker.
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data),
                                                     static_cast<qsizetype>(layout.end));
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, QByteArrayLiteral("jpeg"));
    reader.setAutoDetectImageFormat(false);
    reader.setAllocationLimit(kAllocationLimitMb);
    // The decoder must read the frame header the walk read; anything else is not this frame.
    if (reader.size() != QSize(static_cast<int>(layout.width), static_cast<int>(layout.height))) {
        return std::nullopt;
    }
    QImage image;
    if (!reader.read(&image) || image.isNull()) {
        return std::nullopt;
    }
    return image;
}

QImage ImageServices::Scaled(const QImage& image, QSize size, bool highQuality) {
    if (image.size() == size) {
        return image;
    }
    return image.scaled(size, Qt::IgnoreAspectRatio,
                        highQuality ? Qt::SmoothTransformation : Qt::FastTransformation);
}

bool ImageServices::Save(const QImage& image, const QString& path) {
    const QByteArray format = QFileInfo(path).suffix().toLatin1();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (format.isEmpty() || !image.save(&buffer, format.constData())) {
        return false;
    }
    return ReplaceFile(QFile::encodeName(path).toStdString(),
                       reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                       static_cast<std::size_t>(bytes.size()), 0600) == 0;
}

void ImageServices::DrawStretched(QPainter& painter, const QRect& target, const QImage& image) {
    painter.drawImage(target, image);
}

}  // namespace qv
