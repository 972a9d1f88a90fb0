#include "widgets/SkinLibrary.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <mutex>
#include <unordered_map>

// Outside any namespace: the resource's initialiser is a global function.
static void InitSkinResource() {
    Q_INIT_RESOURCE(qvskin);
}

namespace qv {

namespace {

struct Cache {
    std::mutex lock;
    std::unordered_map<int, QImage> images;  // misses are kept too, as null images
};

Cache& TheCache() {
    static Cache cache;
    return cache;
}

QImage LoadUncached(int number) {
    const QString dir = SkinOverrideDir();
    if (!dir.isEmpty()) {
        for (const char* ext : {"png", "bmp"}) {
            const QString path =
                QDir(dir).filePath(QStringLiteral("%1.%2").arg(number).arg(QLatin1String(ext)));
            if (QFileInfo::exists(path)) {
                QImage image(path);
                if (!image.isNull()) {
                    return image;
                }
            }
        }
    }
    return QImage(QStringLiteral(":/skin/%1.png").arg(number));
}

}  // namespace

QString SkinOverrideDir() {
    const QString env = qEnvironmentVariable("QVREMOTE_SKIN_DIR");
    if (!env.isEmpty()) {
        return QFileInfo(env).isDir() ? env : QString();
    }
    if (QCoreApplication::instance() == nullptr) {
        return {};
    }
    const QString beside = QDir(QCoreApplication::applicationDirPath()).filePath("skin");
    return QFileInfo(beside).isDir() ? beside : QString();
}

QImage SkinImage(int number) {
    static std::once_flag once;
    std::call_once(once, InitSkinResource);
    Cache& cache = TheCache();
    {
        std::lock_guard<std::mutex> hold(cache.lock);
        if (const auto it = cache.images.find(number); it != cache.images.end()) {
            return it->second;
        }
    }
    // Decoded outside the lock; a second thread racing for the same number keeps the first.
    QImage image = LoadUncached(number);
    std::lock_guard<std::mutex> hold(cache.lock);
    return cache.images.try_emplace(number, std::move(image)).first->second;
}

QPixmap SkinPixmap(int number) {
    const QImage image = SkinImage(number);
    return image.isNull() ? QPixmap() : QPixmap::fromImage(image);
}

QIcon SkinIcon(int number) {
    const QPixmap pixmap = SkinPixmap(number);
    return pixmap.isNull() ? QIcon() : QIcon(pixmap);
}

QIcon AppIcon() {
    QIcon icon = SkinIcon(128);
    const QImage large(QStringLiteral(":/icons/qvremote.png"));
    if (!large.isNull()) {
        icon.addPixmap(QPixmap::fromImage(large));
    }
    return icon;
}

void ClearSkinCache() {
    Cache& cache = TheCache();
    std::lock_guard<std::mutex> hold(cache.lock);
    cache.images.clear();
}

}  // namespace qv
