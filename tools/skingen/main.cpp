// skingen --out DIR [--contact-sheet FILE]
// Writes DIR/<number>.png for every catalogue entry, the program icon DIR/qvremote.png
// (256 px) with qvremote-128.png and qvremote-48.png, and DIR/qvskin.qrc.
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QSaveFile>
#include <QTextStream>
#include <cstdio>

#include "tools/skingen/SkinPainter.h"
#include "widgets/SkinCatalogue.h"

namespace {

bool WriteSkin(skingen::SkinPainter& painter, const QString& dirPath) {
    QDir dir(dirPath);
    if (!dir.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "skingen: cannot create %s\n", qPrintable(dirPath));
        return false;
    }
    QString qrc;
    QTextStream out(&qrc);
    out << "<!DOCTYPE RCC>\n<RCC version=\"1.0\">\n<qresource prefix=\"/skin\">\n";
    for (const qv::skin::Entry& e : qv::skin::Catalogue()) {
        const QImage image = painter.Paint(e);
        const QString name = QStringLiteral("%1.png").arg(e.number);
        if (image.size() != QSize(e.width, e.height) || !image.save(dir.filePath(name), "PNG")) {
            std::fprintf(stderr, "skingen: cannot write %s\n", qPrintable(name));
            return false;
        }
        out << "  <file>" << name << "</file>\n";
    }
    out << "</qresource>\n<qresource prefix=\"/icons\">\n  <file>qvremote.png</file>\n"
        << "</qresource>\n</RCC>\n";
    // The desktop's icon sizes: qvremote.png (256 px, also in the resource), then
    // qvremote-128.png and qvremote-48.png painted at their own size, not scaled down.
    for (const int size : {256, 128, 48}) {
        const QString name = size == 256 ? QStringLiteral("qvremote.png")
                                         : QStringLiteral("qvremote-%1.png").arg(size);
        if (!painter.AppIcon(size).save(dir.filePath(name), "PNG")) {
            std::fprintf(stderr, "skingen: cannot write %s\n", qPrintable(name));
            return false;
        }
    }
    // The resource compiler reads the list only when it is whole.
    QSaveFile file(dir.filePath(QStringLiteral("qvskin.qrc")));
    if (!file.open(QIODevice::WriteOnly) || file.write(qrc.toUtf8()) < 0 || !file.commit()) {
        std::fprintf(stderr, "skingen: cannot write qvskin.qrc\n");
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QGuiApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption outOpt(QStringLiteral("out"), QStringLiteral("Skin folder to write."),
                                    QStringLiteral("dir"));
    const QCommandLineOption sheetOpt(QStringLiteral("contact-sheet"),
                                      QStringLiteral("Render every image with its number."),
                                      QStringLiteral("png"));
    parser.addOption(outOpt);
    parser.addOption(sheetOpt);
    parser.process(app);
    if (!parser.isSet(outOpt) && !parser.isSet(sheetOpt)) {
        parser.showHelp(2);
    }
    skingen::SkinPainter painter;
    if (parser.isSet(outOpt) && !WriteSkin(painter, parser.value(outOpt))) {
        return 1;
    }
    if (parser.isSet(sheetOpt) && !painter.ContactSheet().save(parser.value(sheetOpt), "PNG")) {
        std::fprintf(stderr, "skingen: cannot write %s\n", qPrintable(parser.value(sheetOpt)));
        return 1;
    }
    return 0;
}
