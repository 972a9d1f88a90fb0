// Turning frame files into pictures: sizes, scaled copies and bad input.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <fstream>
#include <sstream>

#include "panels/FrameRenderer.h"
#include "panels/ImageServices.h"
#include "session/ActivityLog.h"

namespace qv {
namespace {

QByteArray Jpeg(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(QColor(20, 120, 200));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG");
    return bytes;
}

class FrameRendererTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        ActivityLog::Instance().Open(dir_.path().toStdString());
    }
    void TearDown() override { ActivityLog::Instance().Close(); }

    std::string Write(const QByteArray& bytes) {
        const QString path = dir_.filePath("20261206_101010_123.jpg");
        QFile f(path);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(bytes);
        return path.toStdString();
    }
    std::string Log() const {
        std::ifstream in(ActivityLog::Instance().Path(), std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    QTemporaryDir dir_;
};

TEST_F(FrameRendererTest, DrawnSizesOfBothPanels) {
    const std::string path = Write(Jpeg(800, 600));
    FrameRenderer hard(false);
    EXPECT_EQ(hard.Render(path)->size(), QSize(800, 480));
    FrameRenderer soft(true);
    const struct {
        int scale;
        QSize size;
        const char* copy;
    } cases[] = {{0, {800, 600}, nullptr},
                 {1, {680, 510}, "20261206_101010_123_085.jpg"},
                 {2, {559, 419}, "20261206_101010_123_070.jpg"}};  // 0.7f lies below 0.7
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scale);
        soft.SetScale(c.scale);
        const auto image = soft.Render(path);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->size(), c.size);
        if (c.copy != nullptr) {
            // The scaled copy is left beside the frame file.
            const auto copy = ImageServices::DecodeFile(dir_.filePath(c.copy));
            ASSERT_TRUE(copy);
            EXPECT_EQ(copy->size(), c.size);
        }
    }
    // A frame of another size is stretched all the same.
    EXPECT_EQ(hard.Render(Write(Jpeg(320, 240)))->size(), QSize(800, 480));
}

TEST_F(FrameRendererTest, BadFramesAreRefusedAndLogged) {
    FrameRenderer renderer(true);
    QByteArray truncated = Jpeg(800, 600);
    truncated.truncate(200);
    QByteArray garbage(5000, '\x7e');
    const QByteArray cases[] = {QByteArray(), garbage, truncated, Jpeg(5000, 4000)};
    for (const QByteArray& bytes : cases) {
        SCOPED_TRACE(bytes.size());
        EXPECT_FALSE(renderer.Render(Write(bytes)));
    }
    EXPECT_FALSE(renderer.Render(dir_.filePath("missing.jpg").toStdString()));
    std::size_t lines = 0;
    const std::string log = Log();
    for (std::size_t at = 0; (at = log.find("   Image Load Failed\r\n", at)) != std::string::npos;
         ++at) {
        ++lines;
    }
    EXPECT_EQ(lines, 5u);
    const auto ok = ImageServices::DecodeBytes(
        reinterpret_cast<const std::uint8_t*>(Jpeg(16, 16).constData()), Jpeg(16, 16).size());
    EXPECT_TRUE(ok);
    EXPECT_FALSE(ImageServices::DecodeBytes(nullptr, 10));
}

}  // namespace
}  // namespace qv
