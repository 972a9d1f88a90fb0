// What the window tests share: private settings and folders, a fresh simulator per test over
// real TCP, either panel opened and connected, and what the instrument and the disk saw.
#pragma once

#include <sys/stat.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "panels/CPanelDlg.h"
#include "panels/CPanelSessionView.h"
#include "panels/CScreenView.h"
#include "panels/ScreenCapture.h"
#include "panels/hardkey/CRemoteDlgRook.h"
#include "panels/softkey/CRemoteDlgWren.h"
#include "resources/ids.h"
#include "session/ActivityLog.h"
#include "session/SettingsStore.h"
#include "sim/SimServer.h"

namespace ids = qv::ids;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

inline void AddKinds() {
    QTest::addColumn<bool>("soft");
    QTest::newRow("hard-key") << false;
    QTest::newRow("soft-key") << true;
}

inline QByteArray LogText() {
    QFile log(QString::fromStdString(qv::ActivityLog::Instance().Path()));
    return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
}

inline Bytes ReadAll(const QString& path) {
    QFile f(path);
    const QByteArray b = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    return {b.begin(), b.end()};
}

inline mode_t Mode(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

inline QStringList Jpegs(const QString& folder) {
    return QDir(folder).entryList({"*.jpg"}, QDir::Files | QDir::System, QDir::Name);
}

// Message boxes close as they open, save the dialogs the tests drive themselves. Data rows
// tagged "hard" meet the hard-key instrument's 800x480 screen.
class PanelTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid() && QDir().mkpath(dir_.filePath("home")));
        qputenv("XDG_STATE_HOME", dir_.filePath("state").toLocal8Bit());
        // Notes write the home folder as "~"; the test's folders lie outside this one.
        qputenv("HOME", QFile::encodeName(dir_.filePath("home")));
        QApplication::setApplicationName("QVRemote");
        // Frame files land here, to be looked at.
        QVERIFY(QDir().mkpath(temp_));
        qputenv("TMPDIR", QFile::encodeName(temp_));
        connect(&dismisser_, &QTimer::timeout, [] {
            auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (d && !d->inherits("CDlgCommNew") && !d->inherits("CDlgIP") &&
                !d->inherits("CShareDlg")) {
                d->done(QDialog::Accepted);
            }
        });
        dismisser_.start(20);
    }
    void init() {
        const bool soft = !QByteArray(QTest::currentDataTag()).startsWith("hard");
        QFile::remove(ini_);
        QSettings(ini_, QSettings::IniFormat).setValue("Connection/Method", 1);
        QSettings(ini_, QSettings::IniFormat).setValue("Connection/IP", "127.0.0.1");
        store_ = std::make_unique<qv::SettingsStore>(ini_.toStdString());
        sim_ = std::make_unique<qv::sim::SimServer>(800, soft ? 600 : 480);
        QVERIFY(sim_->Start("127.0.0.1", 0));
        sim_->instrument().KeepServedScreens(200);
        pictures_ = dir_.filePath(QStringLiteral("pictures-%1").arg(QTest::currentTestFunction()));
        QDir(pictures_).removeRecursively();
        qputenv("XDG_PICTURES_DIR", QFile::encodeName(pictures_));
    }
    void cleanup() { sim_.reset(); }

  protected:
    std::unique_ptr<CPanelDlg> Open(bool soft) {
        std::unique_ptr<CPanelDlg> panel(
            soft ? static_cast<CPanelDlg*>(new CRemoteDlgWren(*store_, nullptr, sim_->port()))
                 : new CRemoteDlgRook(*store_, nullptr, sim_->port()));
        panel->session().SetCommandPause(std::chrono::milliseconds(0));
        panel->show();
        panel->activateWindow();
        static_cast<void>(QTest::qWaitForWindowActive(panel.get()));  // as Live() checks
        return panel;
    }
    // Connected (and started); the "Connected" box is gone and the shortcuts are the window's.
    void Live(CPanelDlg& panel, bool start = true) {
        panel.Command(ids::kCmdConnect);
        QTRY_COMPARE(panel.view().PaneText(1), QStringLiteral("Connected"));
        if (start) {
            panel.Command(ids::kCmdStart);
            QCOMPARE(panel.view().PaneText(2), QStringLiteral("Remote Control Started"));
        }
        QTRY_VERIFY(QApplication::activeModalWidget() == nullptr);
        panel.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&panel));
        sim_->instrument().ClearRecords();
    }
    QVariant Stored(const char* name) const {
        return QSettings(ini_, QSettings::IniFormat).value(QStringLiteral("Connection/") + name);
    }
    // Commands the instrument got since the last call, up to a marker sent now.
    QStringList Sent(CPanelDlg& panel) {
        auto& sim = sim_->instrument();
        panel.SendKey("TEST:MARK");
        QStringList out;
        for (std::size_t n = 1; sim.WaitForCommands(n, 3s); ++n) {
            const std::string text = sim.Commands()[n - 1].text;
            if (text == "TEST:MARK") {
                sim.ClearRecords();
                return out;
            }
            out << QString::fromStdString(text);
        }
        return {QStringLiteral("(the marker never came)")};
    }
    // Where in the simulator's served screens these bytes are; -1 when nowhere.
    int ServedIndex(const Bytes& bytes) const {
        const auto served = sim_->instrument().ServedScreens();
        const auto it = std::find(served.begin(), served.end(), bytes);
        return it == served.end() ? -1 : static_cast<int>(it - served.begin());
    }
    // The text and id of the menu's item right after the one with this id ("" and 0: none).
    static std::pair<QString, int> ItemAfter(CPanelDlg& p, int id) {
        const QList<QAction*> items = p.panelSession().menu().actions();
        for (qsizetype i = 0; i + 1 < items.size(); ++i) {
            if (items[i]->data().toInt() == id && !items[i]->menu()) {
                return {items[i + 1]->text(), items[i + 1]->data().toInt()};
            }
        }
        return {};
    }
    static ScreenCapture& Capture(CPanelDlg& p) { return p.panelSession().capture(); }
    static QString Pane0(CPanelDlg& p) { return p.view().PaneText(0); }
    // The menu item's check as opening the menu would set it.
    static bool Checked(CPanelDlg& p, int id) {
        p.UpdateMenu();
        return p.panelSession().Action(id)->isChecked();
    }
    static void WaitFrames(CPanelDlg& p, int n) {
        const int target = p.screen().framesShown() + n;
        QTRY_VERIFY_WITH_TIMEOUT(p.screen().framesShown() >= target, 10000);
    }

    QTemporaryDir dir_;
    QString ini_ = dir_.filePath("settings.ini");
    std::unique_ptr<qv::SettingsStore> store_;
    std::unique_ptr<qv::sim::SimServer> sim_;
    QTimer dismisser_;
    QString pictures_;
    const QString temp_ = dir_.filePath("tmp");
};
