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
    for (int i = 0; i < 10; ++i) {
        p.drawLine(i * w / 10, 0, i * w / 10, h);
        p.drawLine(0, i * h / 10, w, i * h / 10);
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
    return jpeg.left(eoi) + jpeg.mid(lastScan, eoi - lastScan).repeated(extraScans) + jpeg.mid(eoi);
}

// A small real JPEG whose frame header claims w x h.
inline QByteArray HugeHeader(int w, int h) {
    QByteArray jpeg = Encode(Screen(64, 48), "jpeg");
    // FF C0 | len | P | Y hi lo | X hi lo ...; segments are walked, tables are skipped.
    const auto byte = [&jpeg](qsizetype at) { return static_cast<unsigned char>(jpeg[at]); };
    for (qsizetype pos = 2; pos + 9 < jpeg.size();
         pos += 2 + (byte(pos + 2) << 8 | byte(pos + 3))) {
        if (byte(pos + 1) == 0xC0 || byte(pos + 1) == 0xC2) {
            const char size[] = {char(h >> 8), char(h & 0xFF), char(w >> 8), char(w & 0xFF)};
            return jpeg.replace(pos + 5, 4, size, 4);
        }
    }
    return {};
}

// A whole screen cut off before its end, as a lost tail would leave it.
inline QByteArray Truncated(int w, int h) {
    const QByteArray jpeg = Encode(Screen(w, h), "jpeg");
    return jpeg.left(jpeg.size() * 3 / 5);
}

}  // namespace qv::badjpeg
