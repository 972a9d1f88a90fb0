// Start-up of the program: the model-line dialog's answers, the panel each line opens, and a
// quit signal in every state of the link.
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
#include "sim/SimServer.h"
#include "sim/SimUsbBackend.h"

// The moments a quit signal may come: while the link is in each of its states, with each box
// of the connect up, while a peer trickles a screen, with a USB request outstanding.
// clang-format off
enum class Moment { SilentConnect, ConnectedBox, FailureBox, DisconnectedBox, Healing, Trickling,
                    UsbPending, UsbTimeoutBox };
// clang-format on
Q_DECLARE_METATYPE(Moment)

class TestRemoteApp : public QObject {
    Q_OBJECT

    CRemoteApp& app() { return *static_cast<CRemoteApp*>(QCoreApplication::instance()); }

    // Answers the model dialog as soon as it is up: a key, or a click on a line and a button.
    void Answer(int key, int line = 0, int button = 0) {
        app().runModelDialog = [=](CDlgModel& dlg) {
            QTimer::singleShot(0, &dlg, [&dlg, key, line, button] {
                if (key != 0) {
                    QTest::keyClick(&dlg, static_cast<Qt::Key>(key));
                    return;
                }
                for (const int id : {qv::ids::kModelLine0 + line, button}) {
                    const QString name = QStringLiteral("ctrl%1").arg(id);
                    QTest::mouseClick(dlg.findChild<QAbstractButton*>(name), Qt::LeftButton);
                }
            });
            return dlg.exec();
        };
    }

    QTemporaryDir dir_;
    QString ini_ = dir_.filePath("settings.ini");
    CRemoteApp::Launch launch_;
    QStringList messages_;

  private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        // SIGTERM reaches the program's own handler, as it does in the real program.
        app().CloseOnQuitSignals();
        qputenv("XDG_STATE_HOME", dir_.filePath("state").toLocal8Bit());
    }

    void init() {
        QFile::remove(ini_);
        launch_ = {ini_.toStdString()};
        messages_.clear();
        app().message = [this](const QString& text) { messages_ << text; };
        app().systemClass = [] { return 9; };
        app().screenDpi = [] { return QSize(96, 96); };
        app().startNetwork = [] { return true; };
        app().runModelDialog = [](CDlgModel& dlg) { return dlg.exec(); };
        app().makePanel = &CRemoteApp::MakePanel;
        app().runPanel = [](CRemoteDlg&) {};
    }

    // The real panels, constructed and closed without being run; an exit stores nothing.
    void linesOpenTheirPanels() {
        const int ok = qv::ids::kIdOk, soft = qv::ids::kDlgSoftKeyPanel;
        const int hard = qv::ids::kDlgHardKeyPanel;
        // Key, or line and button; the panel run (0: none, the program ends).
        const std::tuple<const char*, int, int, int, int> rows[] = {
            {"Enter at once", Qt::Key_Return, 0, 0, soft},
            {"360C", 0, 1, ok, hard},
            {"HN7700", 0, 2, ok, hard},
            {"Escape", Qt::Key_Escape, 1, 0, 0},
            {"Exit", 0, 1, qv::ids::kIdCancel, 0}};
        for (const auto& [name, key, line, button, panel] : rows) {
            init();
            Answer(key, line, button);
            int ran = 0;
            app().runPanel = [&ran](CRemoteDlg& p) { ran = p.TemplateId(); };
            const bool goesOn = app().InitInstance(launch_);
            QCOMPARE(std::tuple(name, goesOn, app().chosenModel(), ran),
                     std::tuple(name, false, panel == 0 ? -1 : line, panel));
            QVERIFY(messages_.isEmpty());
            QCOMPARE(QFile::exists(ini_), false);
        }
    }

    void quitSignalEndsWithinTwoSecondsInEveryState_data() {
        QTest::addColumn<Moment>("moment");
        QTest::addColumn<QString>("box");  // the box that marks the moment; "": connection failed
        QTest::newRow("connecting to a silent peer") << Moment::SilentConnect << "";
        QTest::newRow("\"Connected\" box up") << Moment::ConnectedBox << "Connected";
        QTest::newRow("\"Connection Failed\" up") << Moment::FailureBox << "";
        QTest::newRow("\"Disconnected\" box up") << Moment::DisconnectedBox << "Disconnected";
        QTest::newRow("link lost, healing") << Moment::Healing << "";
        QTest::newRow("streaming from a trickling peer") << Moment::Trickling << "";
        QTest::newRow("USB request pending") << Moment::UsbPending << "";
        QTest::newRow("USB timeout just passed") << Moment::UsbTimeoutBox << "Timeout";
    }

    void quitSignalEndsWithinTwoSecondsInEveryState() {
        QFETCH(Moment, moment);
        QFETCH(QString, box);
        using enum Moment;
        const bool overUsb = moment == UsbPending || moment == UsbTimeoutBox;
        const bool connecting = moment == SilentConnect || moment == UsbPending;
        const bool lose = moment == DisconnectedBox || moment == Healing;
        qv::sim::SimServer sim(800, 600);
        qv::sim::SimInstrument device;
        qv::sim::SimUsbBackend usb(device);
        std::atomic<int> screens{0};
        sim.onRequest = [&screens](std::uint8_t code) { screens += code == qv::REQ_SCREEN; };
        sim.instrument().SetFaults({.silent = moment == SilentConnect});
        QVERIFY(sim.Start("127.0.0.1", 0));
        const std::uint16_t port = sim.port();
        if (moment == FailureBox) {
            sim.Stop();  // refused
        }
        usb.SetFaults({.stallRead = overUsb});
        if (!overUsb) {
            QSettings s(ini_, QSettings::IniFormat);
            s.setValue("Connection/Method", 1);
            s.setValue("Connection/IP", "127.0.0.1");
            // The box comes only without the self-healing link.
            s.setValue("Connection/AutoReconnect", moment == DisconnectedBox ? 0 : 1);
        }
        Answer(int(Qt::Key_Return));
        app().makePanel = [&usb](int model, qv::SettingsStore& store, std::uint16_t p, bool up) {
            auto panel = CRemoteApp::MakePanel(model, store, p, up);
            static_cast<CRemoteDlgWren&>(*panel).engine().SetUsbBackend(&usb);
            return panel;
        };
        const auto boxUp = [&box] {
            QWidget* w = QApplication::activeModalWidget();
            auto* msg = qobject_cast<QMessageBox*>(w);
            return box.isEmpty() ? qobject_cast<CDlgMsg*>(w) != nullptr : msg && msg->text() == box;
        };
        QElapsedTimer sinceSignal, trickleSince, whole;
        app().runPanel = [&](CRemoteDlg& panel) {
            qv::SessionController& session = static_cast<CRemoteDlgWren&>(panel).session();
            auto* watch = new QTimer(&panel);
            QObject::connect(watch, &QTimer::timeout, &panel, [&, watch] {
                if (lose && screens.load() >= 2 && sim.connections() > 0) {
                    sim.Stop();
                }
                // Streaming first; then every byte of a screen takes 300 ms.
                if (moment == Trickling && !trickleSince.isValid() && screens.load() >= 2) {
                    sim.instrument().SetFaults({.splitWrites = 1, .splitGapUs = 300000});
                    trickleSince.start();
                }
                const auto& asked = overUsb ? device.Requests() : sim.instrument().Requests();
                const bool now =
                    connecting          ? session.Connecting() && !asked.empty()
                    : moment == Healing ? session.linkState() == qv::LinkState::Reconnecting
                    // The next exchange starts within a cycle and then trickles.
                    : moment == Trickling ? trickleSince.isValid() && trickleSince.elapsed() > 1200
                                          : boxUp();
                if (now || whole.elapsed() > 20000) {
                    watch->stop();
                    sinceSignal.start();
                    std::raise(SIGTERM);
                }
            });
            watch->start(10);
            panel.exec();
        };
        launch_.port = port;
        launch_.start = true;
        whole.start();
        app().InitInstance(launch_);
        QVERIFY(sinceSignal.isValid());
        QVERIFY2(whole.elapsed() - sinceSignal.elapsed() < 20000, "the moment never came");
        QVERIFY2(sinceSignal.elapsed() < 2000, qPrintable(QString::number(sinceSignal.elapsed())));
    }
};

int main(int argc, char** argv) {
    CRemoteApp app(argc, argv);
    TestRemoteApp test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_remote_app.moc"
