#include <gtest/gtest.h>

#include <QColor>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <cstdlib>
#include <set>
#include <thread>
#include <vector>

#include "widgets/BitmapToRegion.h"
#include "widgets/SkinCatalogue.h"
#include "widgets/SkinLibrary.h"

namespace {

using qv::skin::Entry;
using qv::skin::Kind;
using qv::skin::Panel;

bool HasPureWhite(const QImage& image) {
    const QImage px = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < px.height(); ++y) {
        for (int x = 0; x < px.width(); ++x) {
            const QRgb c = px.pixel(x, y);
            if ((c & 0xFFFFFFu) == 0xFFFFFFu && qAlpha(c) != 0) {
                return true;
            }
        }
    }
    return false;
}

TEST(SkinTest, EveryCatalogueNumberHasItsImageAtItsSize) {
    std::set<int> numbers;
    for (const Entry& e : qv::skin::Catalogue()) {
        EXPECT_TRUE(numbers.insert(e.number).second) << e.number << " listed twice";
        const QImage image = qv::SkinImage(e.number);
        ASSERT_FALSE(image.isNull()) << "no image " << e.number;
        EXPECT_EQ(image.size(), QSize(e.width, e.height)) << "image " << e.number;
    }
    // The hard-key and soft-key tables, the knobs, the backgrounds and three icons.
    EXPECT_GT(numbers.size(), 380u);
}

TEST(SkinTest, PureWhiteOnlyAroundMaskedKeys) {
    for (const Entry& e : qv::skin::Catalogue()) {
        const QImage image = qv::SkinImage(e.number);
        const bool masked = e.kind == Kind::Key && e.panel == Panel::HardKey;
        if (!masked) {
            EXPECT_FALSE(HasPureWhite(image)) << "white inside image " << e.number;
            continue;
        }
        // Rounded moulding: corners fall through, the middle is the key.
        EXPECT_EQ(image.pixel(0, 0) & 0xFFFFFFu, 0xFFFFFFu) << e.number;
        EXPECT_NE(image.pixel(e.width / 2, e.height / 2) & 0xFFFFFFu, 0xFFFFFFu) << e.number;
    }
}

TEST(SkinTest, AHardKeyKeepsItsShapeInEveryState) {
    // Pressing must not change where the key can be clicked.
    for (const auto& key : qv::skin::kHardKeys) {
        const auto& ids = key.sets[0].ids;
        const auto normal = qv::BitmapToRegion(qv::SkinImage(ids[0]));
        ASSERT_TRUE(normal) << key.controlId;
        for (int id : {ids[1], ids[3]}) {
            const auto other = qv::BitmapToRegion(qv::SkinImage(id));
            ASSERT_TRUE(other) << id;
            EXPECT_TRUE(normal->xored(*other).isEmpty()) << key.controlId << " image " << id;
        }
    }
}

TEST(SkinTest, UnknownNumberIsNull) {
    EXPECT_TRUE(qv::SkinImage(0).isNull());
    EXPECT_TRUE(qv::SkinImage(9999).isNull());
    EXPECT_EQ(qv::skin::Find(9999), nullptr);
}

TEST(SkinTest, OverrideFolderIsLookedInFirst) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QImage art(3, 2, QImage::Format_RGB32);
    art.fill(QColor(200, 10, 10));
    ASSERT_TRUE(art.save(QDir(dir.path()).filePath("245.png")));
    ASSERT_EQ(setenv("QVREMOTE_SKIN_DIR", qPrintable(dir.path()), 1), 0);
    qv::ClearSkinCache();
    EXPECT_EQ(qv::SkinOverrideDir(), dir.path());
    EXPECT_EQ(qv::SkinImage(245).size(), QSize(3, 2));
    EXPECT_EQ(qv::SkinImage(246).size(), QSize(65, 47));  // not dropped in: the built-in one
    unsetenv("QVREMOTE_SKIN_DIR");
    qv::ClearSkinCache();
    EXPECT_EQ(qv::SkinImage(245).size(), QSize(65, 47));
}

TEST(SkinTest, LoadsFromManyThreadsShareOneImage) {
    qv::ClearSkinCache();
    std::vector<std::vector<qint64>> keys(4);
    std::vector<std::thread> threads;
    for (auto& k : keys) {
        threads.emplace_back([&k] {
            for (const Entry& e : qv::skin::Catalogue()) {
                k.push_back(qv::SkinImage(e.number).cacheKey());
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    for (const Entry& e : qv::skin::Catalogue()) {
        const qint64 key = qv::SkinImage(e.number).cacheKey();
        const auto i = static_cast<std::size_t>(&e - qv::skin::Catalogue().data());
        for (const auto& k : keys) {
            EXPECT_EQ(k[i], key) << e.number;
        }
    }
}

}  // namespace
