#include <gtest/gtest.h>

#include <QImage>
#include <QRegion>
#include <functional>
#include <string>

#include "widgets/BitmapToRegion.h"

namespace {

// Slow and obvious: one pixel at a time.
QRegion Reference(const QImage& image) {
    QRegion r;
    const QImage px = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < px.height(); ++y) {
        for (int x = 0; x < px.width(); ++x) {
            if ((px.pixel(x, y) & 0xFFFFFFu) != 0xFFFFFFu) {
                r += QRect(x, y, 1, 1);
            }
        }
    }
    return r;
}

bool SamePixels(const QRegion& a, const QRegion& b) {
    return a.xored(b).isEmpty();
}

QImage White(int w, int h, QImage::Format format = QImage::Format_RGB32) {
    QImage image(w, h, format);
    image.fill(QColor(255, 255, 255));
    return image;
}

struct Case {
    std::string name;
    std::function<QImage()> make;
    std::function<QRegion()> expected;  // nullptr: compare with the reference
};

const Case kCases[] = {
    {"all white is empty", [] { return White(40, 30); }, [] { return QRegion(); }},
    {"near white counts",
     [] {
         QImage i = White(10, 10);
         i.setPixel(3, 4, qRgb(255, 255, 254));
         return i;
     },
     [] { return QRegion(3, 4, 1, 1); }},
    {"one channel off counts",
     [] {
         QImage i = White(10, 10);
         i.setPixel(0, 0, qRgb(254, 255, 255));
         i.setPixel(9, 9, qRgb(255, 254, 255));
         return i;
     },
     [] { return QRegion(0, 0, 1, 1) + QRegion(9, 9, 1, 1); }},
    {"transparent white is white",
     [] {
         QImage i = White(8, 8, QImage::Format_ARGB32);
         i.setPixel(2, 2, qRgba(255, 255, 255, 0));
         i.setPixel(5, 5, qRgba(0, 0, 0, 255));
         return i;
     },
     [] { return QRegion(5, 5, 1, 1); }},
    {"alpha byte ignored on a colour",
     [] {
         QImage i = White(8, 8, QImage::Format_ARGB32);
         i.setPixel(1, 6, qRgba(10, 20, 30, 0));
         return i;
     },
     [] { return QRegion(1, 6, 1, 1); }},
    {"runs split by one white pixel",
     [] {
         QImage i(7, 1, QImage::Format_RGB32);
         i.fill(Qt::black);
         i.setPixel(3, 0, qRgb(255, 255, 255));
         return i;
     },
     [] { return QRegion(0, 0, 3, 1) + QRegion(4, 0, 3, 1); }},
    {"checkerboard over many chunks",
     [] {
         QImage i = White(301, 97);
         for (int y = 0; y < i.height(); ++y) {
             for (int x = (y & 1); x < i.width(); x += 2) {
                 i.setPixel(x, y, qRgb(0, 0, 0));
             }
         }
         return i;  // ~14,600 one-pixel runs
     },
     nullptr},
    {"chunk boundary inside a row",
     [] {
         // 2,000 runs end exactly in the middle of row 1.
         QImage i = White(2000, 3);
         for (int y = 0; y < 3; ++y) {
             for (int x = 0; x < 2000; x += 2) {
                 i.setPixel(x, y, qRgb(40, 40, 40));
             }
         }
         return i;
     },
     nullptr},
    {"indexed image",
     [] {
         QImage i(6, 6, QImage::Format_Indexed8);
         i.setColorTable({qRgb(255, 255, 255), qRgb(20, 90, 200)});
         i.fill(0);
         i.setPixel(4, 1, 1);
         return i;
     },
     [] { return QRegion(4, 1, 1, 1); }},
    {"rgb888 image",
     [] {
         QImage i = White(5, 5, QImage::Format_RGB888);
         i.setPixel(0, 4, qRgb(1, 2, 3));
         return i;
     },
     [] { return QRegion(0, 4, 1, 1); }},
};

class RegionTest : public ::testing::TestWithParam<Case> {};

TEST_P(RegionTest, ExactToThePixel) {
    const Case& c = GetParam();
    const QImage image = c.make();
    const auto region = qv::BitmapToRegion(image);
    ASSERT_TRUE(region.has_value());
    const QRegion want = c.expected ? c.expected() : Reference(image);
    EXPECT_TRUE(SamePixels(*region, want))
        << "got " << region->rectCount() << " rects, bounding " << region->boundingRect().width()
        << "x" << region->boundingRect().height();
}

INSTANTIATE_TEST_SUITE_P(Images, RegionTest, ::testing::ValuesIn(kCases), [](const auto& info) {
    std::string n = info.param.name;
    for (char& ch : n) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) {
            ch = '_';
        }
    }
    return n;
});

TEST(RegionNoImage, NullImageHasNoRegion) {
    EXPECT_FALSE(qv::BitmapToRegion(QImage()).has_value());
}

TEST(RegionSolid, SolidImageIsItsRectangle) {
    // A solid image is one pixel set whatever the rectangle list: the region is its rectangle.
    QImage solid(65, 47, QImage::Format_RGB32);
    solid.fill(QColor(80, 80, 80));
    const auto region = qv::BitmapToRegion(solid);
    ASSERT_TRUE(region);
    EXPECT_EQ(region->boundingRect(), QRect(0, 0, 65, 47));
    EXPECT_TRUE(SamePixels(*region, QRegion(0, 0, 65, 47)));
}

}  // namespace
