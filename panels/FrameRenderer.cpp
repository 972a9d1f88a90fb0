#include "panels/FrameRenderer.h"

#include "panels/ImageServices.h"
#include "session/ActivityLog.h"
#include "session/DisplayScale.h"

namespace qv {

QSize FrameRenderer::DrawnSize() const {
    if (!softKey_) {
        return {800, 480};
    }
    const int scale = scale_.load();
    return {ScaledLength(800, scale), ScaledLength(600, scale)};
}

std::string FrameRenderer::ScaledCopyPath(const std::string& path, int scaleSetting) {
    const std::string tag = scaleSetting == 1 ? "_085.jpg" : "_070.jpg";
    const std::string ext = ".jpg";
    if (path.size() >= ext.size() && path.compare(path.size() - ext.size(), ext.size(), ext) == 0) {
        return path.substr(0, path.size() - ext.size()) + tag;
    }
    return path + tag;
}

std::optional<QImage> FrameRenderer::Render(const std::string& path,
                                            std::vector<std::uint8_t>* bytes) const {
    auto file = ImageServices::ReadFile(QString::fromStdString(path));
    const auto decoded =
        file ? ImageServices::DecodeBytes(file->data(), file->size()) : std::nullopt;
    if (!decoded) {
        ActivityLog::Instance().Write("Image Load Failed");
        return std::nullopt;
    }
    if (bytes != nullptr) {
        *bytes = std::move(*file);
    }
    // One scale for the whole frame, even if the window changes it meanwhile.
    const int scale = scale_.load();
    const QSize size =
        softKey_ ? QSize(ScaledLength(800, scale), ScaledLength(600, scale)) : QSize(800, 480);
    if (!softKey_ || scale == 0) {
        return ImageServices::Scaled(*decoded, size, false);
    }
    QImage scaled = ImageServices::Scaled(*decoded, size, true);
    ImageServices::Save(scaled, QString::fromStdString(ScaledCopyPath(path, scale)));
    return scaled;
}

}  // namespace qv
