// The plain panel window with its session, against the simulated instrument.
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "panels/CBasicPanelDlg.h"
#include "panels/CPanelSessionView.h"
#include "resources/ids.h"
#include "sim/SimServer.h"
#include "tests/panels/PanelRig.h"

class TestBasicPanel : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void init();
    void cleanup();
    void connectKeepsTheWindowResponsive();
    void watchdogEndsALostLink();
    void reconnectKeepsOneWatchdog();
    void menuFollowsTheState();

  private:
    std::unique_ptr<CBasicPanelDlg> MakePanel();

    PanelRig rig_;
};

void TestBasicPanel::initTestCase() {
    QVERIFY(rig_.Prepare());
}

void TestBasicPanel::init() {
    QVERIFY(rig_.Reset());
}

void TestBasicPanel::cleanup() {
    rig_.Release();
}

std::unique_ptr<CBasicPanelDlg> TestBasicPanel::MakePanel() {
    auto panel = std::make_unique<CBasicPanelDlg>(*rig_.store, qv::PanelTraits::HardKey(), nullptr,
                                                  rig_.sim->port());
    panel->show();
    return panel;
}

void TestBasicPanel::connectKeepsTheWindowResponsive() {
    qv::sim::SimFaults silent;
    silent.silent = true;
    rig_.sim->instrument().SetFaults(silent);
    auto panel = MakePanel();
    QCOMPARE(panel->view().PaneText(3), QStringLiteral("TCP/IP : 127.0.0.1"));

    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(10);
    QElapsedTimer clock;
    clock.start();
    panel->Command(qv::ids::kCmdConnect);
    QCOMPARE(panel->view().PaneText(1), QStringLiteral("Connecting\u2026"));
    panel->Command(qv::ids::kCmdConnect);  // a second connect does not start
    QTRY_VERIFY_WITH_TIMEOUT(!panel->session().Connecting(), 6000);
    // The silent instrument held the sequence for seconds; the event loop kept turning.
    QVERIFY(clock.elapsed() >= 2000);
    QVERIFY2(ticks > 50, qPrintable(QString::number(ticks)));
    QTRY_COMPARE(rig_.dismissed, QStringList{"CDlgMsg"});
    QCOMPARE(panel->view().PaneText(1), QStringLiteral("Disconnected"));
    QCOMPARE(rig_.sim->connections(), 1);
}

void TestBasicPanel::watchdogEndsALostLink() {
    auto panel = MakePanel();
    panel->Command(qv::ids::kCmdConnect);
    QTRY_COMPARE(panel->view().PaneText(1), QStringLiteral("Connected"));
    QVERIFY(panel->view().TimerActive(qv::ids::kTimerWatchdog));
    rig_.dismissed.clear();
    QElapsedTimer clock;
    clock.start();
    panel->engine().SetConnected(0);  // a frame could not be received
    QTRY_COMPARE_WITH_TIMEOUT(panel->view().PaneText(1), QStringLiteral("Disconnected"), 1000);
    // Within one watchdog period, give or take a busy machine.
    QVERIFY2(clock.elapsed() < 400, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!panel->view().TimerActive(qv::ids::kTimerWatchdog));
    QTRY_COMPARE(rig_.dismissed, QStringList{"QMessageBox"});
}

void TestBasicPanel::reconnectKeepsOneWatchdog() {
    auto panel = MakePanel();
    for (int i = 0; i < 3; ++i) {
        panel->Command(qv::ids::kCmdConnect);
        QTRY_COMPARE(panel->view().PaneText(1), QStringLiteral("Connected"));
        QCOMPARE(panel->view().TimerCount(), 1);
        panel->Command(qv::ids::kCmdDisconnect);
        QCOMPARE(panel->view().PaneText(1), QStringLiteral("Disconnected"));
        QCOMPARE(panel->view().TimerCount(), 0);
    }
    QCOMPARE(rig_.sim->connections(), 3);
}

void TestBasicPanel::menuFollowsTheState() {
    auto panel = MakePanel();
    auto enabled = [&](int id) {
        for (QAction* a : panel->menu().actions()) {
            if (a->data().toInt() == id) {
                return a->isEnabled();
            }
        }
        return false;
    };
    QVERIFY(enabled(qv::ids::kCmdConnect));
    QVERIFY(!enabled(qv::ids::kCmdStart));
    panel->Command(qv::ids::kCmdConnect);
    QTRY_COMPARE(panel->view().PaneText(1), QStringLiteral("Connected"));
    QVERIFY(!enabled(qv::ids::kCmdConnect));
    QVERIFY(enabled(qv::ids::kCmdStart));
    panel->Command(qv::ids::kCmdStart);
    QCOMPARE(panel->view().PaneText(2), QStringLiteral("Remote Control Started"));
    QVERIFY(!enabled(qv::ids::kCmdDisconnect));
    QVERIFY(enabled(qv::ids::kCmdStop));
    panel->Command(qv::ids::kCmdStop);
    QCOMPARE(panel->view().PaneText(2), QStringLiteral("Remote Control Stopped"));
    QVERIFY(enabled(qv::ids::kCmdDisconnect));
}

QTEST_MAIN(TestBasicPanel)
#include "tst_basic_panel.moc"
