// Screens a hostile or broken instrument could send, built from Qt's own encoder output.
// Shared by the tests and the image benchmark.
#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <cmath>

namespace qv::badjpeg {

// A plausible analyser screen: dark field, grid, one trace.
inline QImage Screen(int w, int h, QColor trace = QColor(240, 220, 40)) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(QColor(12, 16, 28));
    QPainter p(&image);
    p.setPen(QColor(60, 70, 90));
    for (int x = 0; x < w; x += w / 10) {
        p.drawLine(x, 0, x, h);
    }
    for (int y = 0; y < h; y += h / 8) {
        p.drawLine(0, y, w, y);
    }
    p.setPen(QPen(trace, 2));
    const auto y = [h](int x) {
        return h / 2 + static_cast<int>(h / 4 * std::sin(x / 40.0)) + (x * 7919) % 13;
    };
    for (int x = 1; x < w; ++x) {
        p.drawLine(x - 1, y(x - 1), x, y(x));
    }
    return image;
}

inline QByteArray Encode(const QImage& image, const char* format, bool progressive = false) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setProgressiveScanWrite(progressive);
    writer.write(image);
    return bytes;
}

// A flat progressive JPEG whose last scan (a refinement pass over every block) is repeated:
// the decoder runs each dozen-byte copy over the whole image.
inline QByteArray ProgressiveBomb(int w, int h, int extraScans) {
    QImage flat(w, h, QImage::Format_RGB32);
    flat.fill(QColor(90, 90, 90));
    const QByteArray jpeg = Encode(flat, "jpeg", true);
    // FF DA cannot occur in entropy-coded data: the last one is the last scan's header.
    const qsizetype eoi = jpeg.size() - 2;
    const qsizetype lastScan = jpeg.lastIndexOf(QByteArray("\xFF\xDA", 2));
    if (lastScan < 0 || !jpeg.endsWith(QByteArray("\xFF\xD9", 2))) {
        return {};
    }
    const QByteArray scan = jpeg.mid(lastScan, eoi - lastScan);
    QByteArray out = jpeg.left(eoi);
    for (int i = 0; i < extraScans; ++i) {
        out += scan;
    }
    out += jpeg.mid(eoi);
    return out;
}

// A small real JPEG whose frame header claims w x h.
inline QByteArray HugeHeader(int w, int h) {
    QByteArray jpeg = Encode(Screen(64, 48), "jpeg");
    // FF C0 | len | P | Y hi lo | X hi lo ...; segments are walked, tables are skipped.
    for (qsizetype pos = 2; pos + 9 < jpeg.size();) {
        const auto code = static_cast<unsigned char>(jpeg[pos + 1]);
        if (code == 0xC0 || code == 0xC2) {
            jpeg[pos + 5] = static_cast<char>(h >> 8);
            jpeg[pos + 6] = static_cast<char>(h & 0xFF);
            jpeg[pos + 7] = static_cast<char>(w >> 8);
            jpeg[pos + 8] = static_cast<char>(w & 0xFF);
            return jpeg;
        }
        const int length = (static_cast<unsigned char>(jpeg[pos + 2]) << 8) |
                           static_cast<unsigned char>(jpeg[pos + 3]);
        pos += 2 + length;
    }
    return {};
}

// A whole screen cut off before its end, as a lost tail would leave it.
inline QByteArray Truncated(int w, int h) {
    QByteArray jpeg = Encode(Screen(w, h), "jpeg");
    jpeg.truncate(jpeg.size() * 3 / 5);
    return jpeg;
}

}  // namespace qv::badjpeg
