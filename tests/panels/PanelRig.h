// Panel tests' footing: private state, settings for a simulator on a free loopback port, and
// message boxes closed as they open (Communication and IP are left to the tests driving them).
#pragma once

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "panels/CPanelDlg.h"
#include "panels/CPanelSessionView.h"
#include "panels/hardkey/CRemoteDlgRook.h"
#include "panels/softkey/CRemoteDlgWren.h"
#include "resources/ids.h"
#include "session/SettingsStore.h"
#include "sim/SimServer.h"

struct PanelRig {
    QTemporaryDir dir;
    QString ini = dir.filePath("settings.ini");
    std::unique_ptr<qv::SettingsStore> store;
    std::unique_ptr<qv::sim::SimServer> sim;
    QTimer dismisser;

    // Once per test program.
    bool Prepare() {
        qputenv("XDG_STATE_HOME", dir.filePath("state").toLocal8Bit());
        QApplication::setApplicationName("QVRemote");
        QObject::connect(&dismisser, &QTimer::timeout, [] {
            auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (d && !d->inherits("CDlgCommNew") && !d->inherits("CDlgIP")) {
                d->done(QDialog::Accepted);
            }
        });
        dismisser.start(20);
        return dir.isValid();
    }
    // Fresh settings and a fresh simulator; the hard-key instrument's screen is 800x480.
    bool Reset(bool soft = true) {
        QFile::remove(ini);
        QSettings(ini, QSettings::IniFormat).setValue("Connection/Method", 1);
        QSettings(ini, QSettings::IniFormat).setValue("Connection/IP", "127.0.0.1");
        store = std::make_unique<qv::SettingsStore>(ini.toStdString());
        sim = std::make_unique<qv::sim::SimServer>(800, soft ? 600 : 480);
        return sim->Start("127.0.0.1", 0);
    }
    // The panel on the settings as they are, shown and active.
    std::unique_ptr<CPanelDlg> Open(bool soft) {
        std::unique_ptr<CPanelDlg> panel(
            soft ? static_cast<CPanelDlg*>(new CRemoteDlgWren(*store, nullptr, sim->port()))
                 : new CRemoteDlgRook(*store, nullptr, sim->port()));
        panel->session().SetCommandPause(std::chrono::milliseconds(0));
        panel->show();
        panel->activateWindow();
        static_cast<void>(QTest::qWaitForWindowActive(panel.get()));  // as Live() checks
        return panel;
    }
    // Connected (and started); the "Connected" box is gone and the shortcuts are the window's.
    void Live(CPanelDlg& panel, bool start = true) {
        panel.Command(qv::ids::kCmdConnect);
        QTRY_COMPARE(panel.view().PaneText(1), QStringLiteral("Connected"));
        if (start) {
            panel.Command(qv::ids::kCmdStart);
            QCOMPARE(panel.view().PaneText(2), QStringLiteral("Remote Control Started"));
        }
        QTRY_VERIFY(QApplication::activeModalWidget() == nullptr);
        panel.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&panel));
        sim->instrument().ClearRecords();
    }
    QVariant Stored(const char* name) const {
        return QSettings(ini, QSettings::IniFormat).value(QStringLiteral("Connection/") + name);
    }
};
