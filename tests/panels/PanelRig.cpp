#include "tests/panels/PanelRig.h"

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QSettings>

bool PanelRig::Prepare() {
    if (!dir.isValid()) {
        return false;
    }
    qputenv("XDG_STATE_HOME", dir.filePath("state").toLocal8Bit());
    QApplication::setApplicationName("QVRemote");
    connect(&dismisser_, &QTimer::timeout, this, [this] {
        if (QWidget* w = QApplication::activeModalWidget()) {
            dismissed << w->metaObject()->className();
            if (auto* d = qobject_cast<QDialog*>(w)) {
                d->done(QDialog::Accepted);
            } else {
                w->close();
            }
        }
    });
    dismisser_.start(20);
    return true;
}

bool PanelRig::Reset(int screenWidth, int screenHeight) {
    dismissed.clear();
    ini = dir.filePath("settings.ini");
    QFile::remove(ini);
    {
        QSettings s(ini, QSettings::IniFormat);
        s.setValue("Connection/Method", 1);
        s.setValue("Connection/IP", "127.0.0.1");
    }
    store = std::make_unique<qv::SettingsStore>(ini.toStdString());
    sim = std::make_unique<qv::sim::SimServer>(screenWidth, screenHeight);
    return sim->Start("127.0.0.1", 0);
}
