// The skin: a key's clickable shape from its image, exact to the pixel; the built-in images at
// their listed sizes; artwork dropped in by the user; one shared image for every thread.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QRegion>
#include <QTemporaryDir>
#include <future>

#include "widgets/BitmapToRegion.h"
#include "widgets/SkinCatalogue.h"
#include "widgets/SkinLibrary.h"

namespace {

using qv::skin::Entry;

// A white image with the given pixels set.
QImage White(int w, int h, std::initializer_list<std::tuple<int, int, QRgb>> pixels = {},
             QImage::Format format = QImage::Format_RGB32) {
    QImage image(w, h, format);
    image.fill(QColor(255, 255, 255));
    for (const auto& [x, y, rgb] : pixels) {
        image.setPixel(x, y, rgb);
    }
    return image;
}

TEST(BitmapToRegion, EveryPixelThatIsNotPureWhite) {
    QImage indexed(6, 6, QImage::Format_Indexed8);
    indexed.setColorTable({qRgb(255, 255, 255), qRgb(20, 90, 200)});
    indexed.fill(0);
    indexed.setPixel(4, 1, 1);
    QImage stripes = White(2000, 3);  // 3,000 runs: a chunk of them ends inside row 1
    QRegion columns;
    for (int x = 0; x < 2000; x += 2) {
        columns += QRect(x, 0, 1, 3);
        for (int y = 0; y < 3; ++y) {
            stripes.setPixel(x, y, qRgb(40, 40, 40));
        }
    }
    const std::tuple<const char*, QImage, QRegion> cases[] = {
        {"all white", White(40, 30), QRegion()},
        {"one channel off",
         White(10, 10, {{3, 4, qRgb(255, 255, 254)}, {9, 9, qRgb(254, 255, 255)}}),
         QRegion(3, 4, 1, 1) + QRegion(9, 9, 1, 1)},
        // The alpha byte is not looked at.
        {"alpha",
         White(8, 8, {{2, 2, qRgba(255, 255, 255, 0)}, {1, 6, qRgba(10, 20, 30, 0)}},
               QImage::Format_ARGB32),
         QRegion(1, 6, 1, 1)},
        {"runs split by white", White(7, 1, {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {6, 0, 0}}),
         QRegion(0, 0, 3, 1) + QRegion(6, 0, 1, 1)},
        {"indexed", indexed, QRegion(4, 1, 1, 1)},
        {"many chunks", stripes, columns},
    };
    for (const auto& [name, image, expected] : cases) {
        SCOPED_TRACE(name);
        const auto region = qv::BitmapToRegion(image);
        ASSERT_TRUE(region.has_value());
        EXPECT_TRUE(region->xored(expected).isEmpty()) << region->rectCount() << " rects";
    }
    EXPECT_FALSE(qv::BitmapToRegion(QImage()).has_value());
}

TEST(Skin, EveryImageAtItsSizeWhiteOnlyWhereAHardKeyFallsThrough) {
    ASSERT_GT(qv::skin::Catalogue().size(), 380u);
    for (const Entry& e : qv::skin::Catalogue()) {
        SCOPED_TRACE(e.number);
        const QImage image = qv::SkinImage(e.number);
        ASSERT_EQ(image.size(), QSize(e.width, e.height));
        // Rounded moulding: corners fall through, the middle is the key; elsewhere no white.
        const bool masked = e.kind == qv::skin::Kind::Key && e.panel == qv::skin::Panel::HardKey;
        EXPECT_EQ(qv::BitmapToRegion(image)->xored(QRegion(image.rect())).isEmpty(), !masked);
        if (masked) {
            EXPECT_EQ(image.pixel(0, 0) & 0xFFFFFFu, 0xFFFFFFu);
            EXPECT_NE(image.pixel(e.width / 2, e.height / 2) & 0xFFFFFFu, 0xFFFFFFu);
        }
    }
    EXPECT_TRUE(qv::SkinImage(9999).isNull());
    // Pressing or disabling a hard key must not change where it can be clicked.
    for (const auto& key : qv::skin::kHardKeys) {
        const auto& ids = key.sets[0].ids;
        const auto normal = qv::BitmapToRegion(qv::SkinImage(ids[0]));
        for (const int id : {ids[1], ids[3]}) {
            EXPECT_TRUE(normal->xored(*qv::BitmapToRegion(qv::SkinImage(id))).isEmpty()) << id;
        }
    }
}

TEST(Skin, ArtworkInTheOverrideFolderComesFirst) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(White(3, 2).save(QDir(dir.path()).filePath("245.png")));
    const QSize builtIn[] = {qv::SkinImage(245).size(), qv::SkinImage(246).size()};
    ASSERT_EQ(setenv("QVREMOTE_SKIN_DIR", qPrintable(dir.path()), 1), 0);
    qv::ClearSkinCache();
    EXPECT_EQ(qv::SkinImage(245).size(), QSize(3, 2));
    EXPECT_EQ(qv::SkinImage(246).size(), builtIn[1]) << "not dropped in: the built-in one";
    unsetenv("QVREMOTE_SKIN_DIR");
    qv::ClearSkinCache();
    EXPECT_EQ(qv::SkinImage(245).size(), builtIn[0]);
}

TEST(Skin, LoadsFromManyThreadsShareOneImage) {
    qv::ClearSkinCache();
    const auto load = [] {
        std::vector<qint64> keys;
        for (const Entry& e : qv::skin::Catalogue()) {
            keys.push_back(qv::SkinImage(e.number).cacheKey());
        }
        return keys;
    };
    std::vector<std::future<std::vector<qint64>>> loads;
    for (int i = 0; i < 4; ++i) {
        loads.push_back(std::async(std::launch::async, load));
    }
    const auto mine = load();
    for (auto& f : loads) {
        EXPECT_EQ(f.get(), mine);
    }
}

}  // namespace
