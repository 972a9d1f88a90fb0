// Start-up of the program: the model-line dialog's answers, the panel each line opens, the
// system checks and a failed socket start-up.
#include <QAction>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <csignal>

#include "app/CRemoteApp.h"
#include "dialogs/CDlgModel.h"
#include "dialogs/CDlgMsg.h"
#include "panels/softkey/CRemoteDlgWren.h"
#include "resources/ids.h"
#include "session/SettingsStore.h"
#include "sim/SimServer.h"
#include "sim/SimUsbBackend.h"
#include "widgets/CRemoteDlg.h"

class TestRemoteApp : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void init();
    void enterAtOnceOpensTheSoftKeyPanel();
    void linesOpenTheirPanels_data();
    void linesOpenTheirPanels();
    void exitEndsWithoutAPanel();
    void adviceShownOnceOnAnOldSystem();
    void failedSocketStartLeavesNoWayToConnect();
    void quitSignalEndsWithinTwoSecondsInEveryState_data();
    void quitSignalEndsWithinTwoSecondsInEveryState();

  private:
    CRemoteApp& app() { return *static_cast<CRemoteApp*>(QCoreApplication::instance()); }
    // Presses a key on the model dialog as soon as it is up, then lets exec run.
    static void PressOnModelDialog(int key);
    void UseFakePanel();

    QTemporaryDir dir_;
    QString ini_;
    QStringList messages_;
    QList<int> madeFor_;
    QList<bool> madeWithNetwork_;
};

void TestRemoteApp::initTestCase() {
    QVERIFY(dir_.isValid());
    // SIGTERM reaches the program's own handler, as it does in the real program.
    app().CloseOnQuitSignals();
    qputenv("XDG_STATE_HOME", dir_.filePath("state").toLocal8Bit());
}

void TestRemoteApp::init() {
    ini_ = dir_.filePath("settings.ini");
    QFile::remove(ini_);
    messages_.clear();
    madeFor_.clear();
    madeWithNetwork_.clear();
    app().message = [this](const QString& text) { messages_ << text; };
    app().systemClass = [] { return 9; };
    app().screenDpi = [] { return QSize(96, 96); };
    app().startNetwork = [] { return true; };
    app().runModelDialog = [](CDlgModel& dlg) { return dlg.exec(); };
    app().makePanel = &CRemoteApp::MakePanel;
    app().runPanel = [](CRemoteDlg&) {};
}

void TestRemoteApp::PressOnModelDialog(int key) {
    QTimer::singleShot(0, [key] {
        QWidget* dlg = QApplication::activeModalWidget();
        QVERIFY(qobject_cast<CDlgModel*>(dlg));
        QTest::keyClick(dlg, static_cast<Qt::Key>(key));
    });
}

void TestRemoteApp::UseFakePanel() {
    app().makePanel = [this](int model, qv::SettingsStore&, std::uint16_t, bool networkUp) {
        madeFor_ << model;
        madeWithNetwork_ << networkUp;
        return std::make_unique<CRemoteDlg>(model == 0 ? qv::ids::kDlgSoftKeyPanel
                                                       : qv::ids::kDlgHardKeyPanel);
    };
}

void TestRemoteApp::enterAtOnceOpensTheSoftKeyPanel() {
    UseFakePanel();
    PressOnModelDialog(Qt::Key_Return);
    CRemoteApp::Launch launch;
    launch.settingsFile = ini_.toStdString();
    QCOMPARE(app().InitInstance(launch), false);
    QCOMPARE(app().chosenModel(), 0);
    QCOMPARE(madeFor_, QList<int>{0});
    QCOMPARE(app().panelTemplate(), qv::ids::kDlgSoftKeyPanel);
    QVERIFY(messages_.isEmpty());
}

void TestRemoteApp::linesOpenTheirPanels_data() {
    QTest::addColumn<int>("line");
    QTest::addColumn<int>("panel");
    QTest::newRow("380A/B, 390A/B") << 0 << qv::ids::kDlgSoftKeyPanel;
    QTest::newRow("360C") << 1 << qv::ids::kDlgHardKeyPanel;
    QTest::newRow("HN7700") << 2 << qv::ids::kDlgHardKeyPanel;
}

void TestRemoteApp::linesOpenTheirPanels() {
    QFETCH(int, line);
    QFETCH(int, panel);
    // The real panels, constructed and closed without being run.
    app().runModelDialog = [line](CDlgModel& dlg) {
        QTimer::singleShot(0, &dlg, [&dlg, line] {
            auto* radio = dlg.findChild<QAbstractButton*>(
                QStringLiteral("ctrl%1").arg(qv::ids::kModelLine0 + line));
            QVERIFY(radio);
            QTest::mouseClick(radio, Qt::LeftButton);
            auto* ok = dlg.findChild<QPushButton*>(QStringLiteral("ctrl%1").arg(qv::ids::kIdOk));
            QVERIFY(ok);
            QTest::mouseClick(ok, Qt::LeftButton);
        });
        return dlg.exec();
    };
    int ranTemplate = 0;
    app().runPanel = [&ranTemplate](CRemoteDlg& p) { ranTemplate = p.TemplateId(); };
    CRemoteApp::Launch launch;
    launch.settingsFile = ini_.toStdString();
    app().InitInstance(launch);
    QCOMPARE(app().chosenModel(), line);
    QCOMPARE(ranTemplate, panel);
}

void TestRemoteApp::exitEndsWithoutAPanel() {
    UseFakePanel();
    for (const int key : {int(Qt::Key_Escape), 0}) {
        if (key != 0) {
            PressOnModelDialog(key);
        } else {
            app().runModelDialog = [](CDlgModel& dlg) {
                QTimer::singleShot(0, &dlg, [&dlg] {
                    auto* exit = dlg.findChild<QPushButton*>(
                        QStringLiteral("ctrl%1").arg(qv::ids::kIdCancel));
                    QVERIFY(exit);
                    QCOMPARE(exit->text(), QStringLiteral("EXIT"));
                    QTest::mouseClick(exit, Qt::LeftButton);
                });
                return dlg.exec();
            };
        }
        CRemoteApp::Launch launch;
        launch.settingsFile = ini_.toStdString();
        QCOMPARE(app().InitInstance(launch), false);
        QCOMPARE(app().chosenModel(), -1);
    }
    QVERIFY(madeFor_.isEmpty());
    // Nothing was stored either.
    QVERIFY(!QFile::exists(ini_));
}

void TestRemoteApp::adviceShownOnceOnAnOldSystem() {
    UseFakePanel();
    app().systemClass = [] { return 6; };
    app().screenDpi = [] { return QSize(120, 120); };
    PressOnModelDialog(Qt::Key_Return);
    CRemoteApp::Launch launch;
    launch.settingsFile = ini_.toStdString();
    app().InitInstance(launch);
    QCOMPARE(messages_, QStringList{QString::fromLatin1(CRemoteApp::kDpiAdvice)});
    // Start-up went on to the panel all the same.
    QCOMPARE(madeFor_, QList<int>{0});
}

void TestRemoteApp::failedSocketStartLeavesNoWayToConnect() {
    app().startNetwork = [] { return false; };
    QList<bool> connectEnabled;
    app().runPanel = [&connectEnabled](CRemoteDlg& panel) {
        for (QAction* a : panel.findChildren<QAction*>()) {
            if (a->data().toInt() == qv::ids::kCmdConnect) {
                connectEnabled << a->isEnabled();
                a->trigger();  // even a forced trigger starts nothing
            }
        }
    };
    for (const int key : {int(Qt::Key_Return)}) {
        PressOnModelDialog(key);
        CRemoteApp::Launch launch;
        launch.settingsFile = ini_.toStdString();
        launch.start = true;
        app().InitInstance(launch);
    }
    QCOMPARE(messages_, QStringList{QString::fromLatin1(CRemoteApp::kNetworkError)});
    QCOMPARE(connectEnabled, QList<bool>{false});
}

// The moments a quit signal may come: while the link is in each of its states, with each box
// of the connect up, while a peer trickles a screen, with a USB request outstanding.
enum class Moment {
    ConnectingToASilentPeer,
    ConnectedBoxUp,
    FailureBoxUp,
    DisconnectedBoxUp,
    LinkHealing,
    StreamingFromATricklingPeer,
    UsbRequestPending,
    UsbTimeoutBoxUp,
};
Q_DECLARE_METATYPE(Moment)

void TestRemoteApp::quitSignalEndsWithinTwoSecondsInEveryState_data() {
    QTest::addColumn<Moment>("moment");
    QTest::newRow("connecting to a silent peer") << Moment::ConnectingToASilentPeer;
    QTest::newRow("\"Connected\" box up") << Moment::ConnectedBoxUp;
    QTest::newRow("\"Connection Failed\" up") << Moment::FailureBoxUp;
    QTest::newRow("\"Disconnected\" box up") << Moment::DisconnectedBoxUp;
    QTest::newRow("link lost, healing") << Moment::LinkHealing;
    QTest::newRow("streaming from a trickling peer") << Moment::StreamingFromATricklingPeer;
    QTest::newRow("USB request pending") << Moment::UsbRequestPending;
    QTest::newRow("USB timeout just passed") << Moment::UsbTimeoutBoxUp;
}

void TestRemoteApp::quitSignalEndsWithinTwoSecondsInEveryState() {
    QFETCH(Moment, moment);
    const bool overUsb = moment == Moment::UsbRequestPending || moment == Moment::UsbTimeoutBoxUp;
    qv::sim::SimServer sim(800, 600);
    qv::sim::SimInstrument device;
    qv::sim::SimUsbBackend usb(device);
    std::atomic<int> screens{0};
    sim.onRequest = [&screens](std::uint8_t code) { screens += code == qv::REQ_SCREEN; };
    qv::sim::SimFaults faults;
    faults.silent = moment == Moment::ConnectingToASilentPeer;
    sim.instrument().SetFaults(faults);
    QVERIFY(sim.Start("127.0.0.1", 0));
    const std::uint16_t port = sim.port();
    if (moment == Moment::FailureBoxUp) {
        sim.Stop();  // refused
    }
    if (overUsb) {
        qv::sim::SimUsbFaults stall;
        stall.stallRead = true;
        usb.SetFaults(stall);
    }
    if (!overUsb) {
        QSettings s(ini_, QSettings::IniFormat);
        s.setValue("Connection/Method", 1);
        s.setValue("Connection/IP", "127.0.0.1");
        // The box comes only without the self-healing link.
        s.setValue("Connection/AutoReconnect", moment == Moment::DisconnectedBoxUp ? 0 : 1);
    }
    app().runModelDialog = [](CDlgModel& dlg) {
        dlg.m_nModel = 0;
        return int(QDialog::Accepted);
    };
    app().makePanel = [&usb](int model, qv::SettingsStore& store, std::uint16_t p, bool up) {
        auto panel = CRemoteApp::MakePanel(model, store, p, up);
        static_cast<CRemoteDlgWren&>(*panel).engine().SetUsbBackend(&usb);
        return panel;
    };
    const auto boxUp = [](const QString& text) {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (box && box->isVisible() && box->text() == text) {
                return true;
            }
        }
        return false;
    };
    const auto failureUp = [] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (qobject_cast<CDlgMsg*>(w) && w->isVisible()) {
                return true;
            }
        }
        return false;
    };
    QElapsedTimer sinceSignal;
    bool trickling = false;
    QElapsedTimer trickleSince;
    app().runPanel = [&](CRemoteDlg& panel) {
        auto& wren = static_cast<CRemoteDlgWren&>(panel);
        auto* watch = new QTimer(&panel);
        QElapsedTimer since;
        since.start();
        QObject::connect(watch, &QTimer::timeout, &panel, [&, watch] {
            bool now = false;
            switch (moment) {
                case Moment::ConnectingToASilentPeer:
                    now = wren.session().Connecting() && !sim.instrument().Requests().empty();
                    break;
                case Moment::ConnectedBoxUp:
                    now = boxUp(QStringLiteral("Connected"));
                    break;
                case Moment::FailureBoxUp:
                    now = failureUp();
                    break;
                case Moment::DisconnectedBoxUp:
                    if (screens.load() >= 2 && sim.connections() > 0) {
                        sim.Stop();
                    }
                    now = boxUp(QStringLiteral("Disconnected"));
                    break;
                case Moment::LinkHealing:
                    if (screens.load() >= 2 && sim.connections() > 0) {
                        sim.Stop();
                    }
                    now = wren.session().linkState() == qv::LinkState::Reconnecting;
                    break;
                case Moment::StreamingFromATricklingPeer:
                    // Streaming first; then every byte of a screen takes 300 ms.
                    if (!trickling && screens.load() >= 2) {
                        qv::sim::SimFaults slow;
                        slow.splitWrites = 1;
                        slow.splitGapUs = 300000;
                        sim.instrument().SetFaults(slow);
                        trickling = true;
                        trickleSince.start();
                    }
                    // The next exchange starts within a cycle and then trickles.
                    now = trickling && trickleSince.elapsed() > 1200;
                    break;
                case Moment::UsbRequestPending:
                    now = wren.session().Connecting() && !device.Requests().empty();
                    break;
                case Moment::UsbTimeoutBoxUp:
                    now = boxUp(QStringLiteral("Timeout"));
                    break;
            }
            if (now || since.elapsed() > 20000) {
                watch->stop();
                sinceSignal.start();
                std::raise(SIGTERM);
            }
        });
        watch->start(10);
        panel.exec();
    };
    CRemoteApp::Launch launch;
    launch.settingsFile = ini_.toStdString();
    launch.port = port;
    launch.start =
        moment == Moment::DisconnectedBoxUp || moment == Moment::LinkHealing ||
        moment == Moment::ConnectedBoxUp || moment == Moment::StreamingFromATricklingPeer ||
        moment == Moment::ConnectingToASilentPeer || moment == Moment::FailureBoxUp || overUsb;
    QElapsedTimer whole;
    whole.start();
    app().InitInstance(launch);
    QVERIFY(sinceSignal.isValid());
    QVERIFY2(whole.elapsed() - sinceSignal.elapsed() < 20000, "the moment never came");
    QVERIFY2(sinceSignal.elapsed() < 2000, qPrintable(QString::number(sinceSignal.elapsed())));
}

int main(int argc, char** argv) {
    CRemoteApp app(argc, argv);
    TestRemoteApp test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_remote_app.moc"
