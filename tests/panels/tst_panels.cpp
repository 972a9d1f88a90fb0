// Both front panels against the simulated instrument over real TCP, each test with private
// settings and folders and a fresh simulator; what is saved, copied or recorded is the
// instrument's bytes, in private files never written through a link.
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <span>
#include <thread>

#include "dialogs/CDlgCommNew.h"
#include "dialogs/CDlgIP.h"
#include "dialogs/CIpAddressCtrl.h"
#include "media/Recording.h"
#include "panels/CPanelDlg.h"
#include "panels/CPanelSessionView.h"
#include "panels/CScreenView.h"
#include "panels/ImageServices.h"
#include "panels/PaneNote.h"
#include "panels/PanelSession.h"
#include "panels/ScreenCapture.h"
#include "panels/VideoExport.h"
#include "panels/hardkey/CRemoteDlgRook.h"
#include "panels/softkey/CRemoteDlgWren.h"
#include "panels/softkey/CReplayBar.h"
#include "resources/ids.h"
#include "session/ActivityLog.h"
#include "session/SettingsStore.h"
#include "share/ShareSession.h"
#include "sim/SimServer.h"
#include "tests/media/MediaProbe.h"
#include "tests/panels/BadJpegs.h"
#include "tests/share/ShareViewer.h"
#include "widgets/CKnobButton.h"
#include "widgets/SkinLibrary.h"

namespace ids = qv::ids;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

namespace {

using qv::share::test::Viewer;

// Listening takes milliseconds; a loaded machine under a sanitizer gets far more.
constexpr int kShareDeadline = 10000;

void AddKinds() {
    QTest::addColumn<bool>("soft");
    QTest::newRow("hard-key") << false;
    QTest::newRow("soft-key") << true;
}

QByteArray LogText() {
    QFile log(QString::fromStdString(qv::ActivityLog::Instance().Path()));
    return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
}

Bytes ReadAll(const QString& path) {
    QFile f(path);
    const QByteArray b = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    return {b.begin(), b.end()};
}

mode_t Mode(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

QStringList Jpegs(const QString& folder) {
    return QDir(folder).entryList({"*.jpg"}, QDir::Files | QDir::System, QDir::Name);
}

// Runs fn on the modal dialog of type T as soon as the panel's command has opened it.
template <typename T>
void OnDialog(std::function<void(T&)> fn) {
    QTimer::singleShot(0, [fn] {
        auto* dlg = qobject_cast<T*>(QApplication::activeModalWidget());
        QVERIFY(dlg != nullptr);
        dlg->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(dlg));
        fn(*dlg);
    });
}

// Selects the first field of an address control and types the address one key at a time.
void TypeAddress(CIpAddressCtrl* ctrl, const QString& text) {
    ctrl->Field(0)->setFocus();
    QTRY_VERIFY(QApplication::focusWidget() == ctrl->Field(0));
    QTest::keyClick(ctrl->Field(0), Qt::Key_A, Qt::ControlModifier);
    for (const QChar c : text) {
        QTest::keyClicks(QApplication::focusWidget(), QString(c));
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
}

std::pair<int, int> Keys(CPanelDlg& panel) {
    return qobject_cast<CRemoteDlgWren*>(&panel) ? std::pair{ids::kSoftKeyFirst, ids::kSoftKeyLast}
                                                 : std::pair{ids::kHardKeyFirst, ids::kHardKeyLast};
}

// Keys and knob, and the look each key chose.
bool KeysEnabled(CPanelDlg& panel, bool expected) {
    bool all = panel.Knob()->isEnabled() == expected;
    for (int id = Keys(panel).first; id <= Keys(panel).second; ++id) {
        const CSkinButton* key = panel.Key(id);
        all &= key->isEnabled() == expected &&
               (key->ChosenSlot() != CSkinButton::kDisabled) == expected;
    }
    return all;
}

// Enabled, then checked: Connect, Disconnect, Start, Stop, High, Medium, Low, Screen mode,
// Communication; then enabled: Record, Normal, Responsive, Fast, 100%, 85%, 70%, Reconnect
// automatically, Save screen, Copy screen, Infomation. 1/0; '-': the panel has no such item.
QString Menu(CPanelDlg& panel) {
    panel.UpdateMenu();
    const auto states = [&panel](std::initializer_list<int> items, bool checked) {
        QString out;
        for (const int id : items) {
            const QAction* a = panel.panelSession().Action(id);
            out += a == nullptr ? '-' : (checked ? a->isChecked() : a->isEnabled()) ? '1' : '0';
        }
        return out;
    };
    const auto menu = {ids::kCmdConnect,    ids::kCmdDisconnect,  ids::kCmdStart,
                       ids::kCmdStop,       ids::kCmdQualityHigh, ids::kCmdQualityMedium,
                       ids::kCmdQualityLow, ids::kCmdScreenMode,  ids::kCmdCommunication};
    return states(menu, false) + ' ' + states(menu, true) + ' ' +
           states({ids::kCmdRecord, ids::kCmdLiveNormal, ids::kCmdLiveResponsive, ids::kCmdLiveFast,
                   ids::kCmdScale100, ids::kCmdScale85, ids::kCmdScale70, ids::kCmdAutoReconnect,
                   ids::kCmdSaveScreen, ids::kCmdCopyScreen, ids::kCmdAbout},
                  false);
}

int Refusals() {
    return int(LogText().count("   Image Load Failed\r\n"));
}

// A recorder's writes held until the test releases them (20 s: a failure's deadline only).
struct HeldWrites {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::once_flag once;
    std::atomic<bool> entered = false;
    std::atomic<bool> timedOut = false;

    qv::WriteFn Writer() {
        return [this](int fd, const std::uint8_t* data, std::size_t n) {
            entered = true;
            if (released.wait_for(20s) != std::future_status::ready) {
                timedOut = true;
            }
            return ::write(fd, data, n);
        };
    }
    void Release() {
        std::call_once(once, [this] { release.set_value(); });
    }
};

}  // namespace

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

// The windows: wiring, state, keyboard, scale, screen mode, link dialogs, save and copy, hostile
// screens.
class TestPanels : public PanelTest {
    Q_OBJECT

  private slots:
    void keysMenuPcKeysShareAndLinkDialogs_data() { AddKinds(); }
    // From first use: Communication's choice is shown, stored and used, the close box changes
    // nothing. Keys and menu by state; PC keys as the user presses them; started, clicks and the
    // knob reach the instrument. The browser share, ended by Disconnect and by closing the
    // window. IP address: Esc changes nothing; OK stores "IP" and shows it.
    void keysMenuPcKeysShareAndLinkDialogs() {
        // Key, modifiers, the panel key it presses (0: none), what it sends (nullptr: nothing).
        using PcKey = std::tuple<Qt::Key, Qt::KeyboardModifiers, int, const char*>;
        QFETCH(bool, soft);
        QFile::remove(ini_);
        store_ = std::make_unique<qv::SettingsStore>(ini_.toStdString());
        auto panel = Open(soft);
        QVERIFY(KeysEnabled(*panel, false));
        // Record only while remote control runs; the rest whatever the state.
        const QString more = QString(soft ? "111" : "---") + "1111";
        QCOMPARE(Menu(*panel), "100000011 010110000 0111" + more);
        QCOMPARE(panel->view().PaneText(3), QStringLiteral("USB"));
        OnDialog<CDlgCommNew>([](CDlgCommNew& dlg) {
            dlg.findChild<QRadioButton*>(QStringLiteral("ctrl1104"))->click();
            TypeAddress(dlg.findChild<CIpAddressCtrl*>(QStringLiteral("ctrl1108")), "127.0.0.1");
        });
        panel->Command(ids::kCmdCommunication);
        QCOMPARE(panel->view().PaneText(3), QStringLiteral("TCP/IP : 127.0.0.1"));
        QCOMPARE(std::tuple(store_->Load().method, store_->Load().ip),
                 std::tuple(1, std::string("127.0.0.1")));
        // Connecting alone enables no key; a click on one sends nothing.
        Live(*panel, false);
        OnDialog<CDlgCommNew>([](CDlgCommNew& dlg) {
            dlg.findChild<QRadioButton*>(QStringLiteral("ctrl1106"))->click();
            dlg.close();
        });
        panel->Command(ids::kCmdCommunication);
        QCOMPARE(panel->view().PaneText(3), QStringLiteral("TCP/IP : 127.0.0.1"));
        QVERIFY(KeysEnabled(*panel, false));
        QTest::mouseClick(panel->Key(Keys(*panel).first), Qt::LeftButton);
        QCOMPARE(Sent(*panel), QStringList{});
        QCOMPARE(Menu(*panel), "011011111 100110000 0111" + more);
        const auto press = [&](QWidget* target, const PcKey& k) {
            const auto [key, mods, id, command] = k;
            CSkinButton* button = panel->Key(id);
            const auto pressedLook = [button] {
                return button->Image(CSkinButton::kNormal) == button->Image(CSkinButton::kPressed);
            };
            QTest::keyPress(target, key, mods);
            QVERIFY(button == nullptr || pressedLook());
            QTest::keyRelease(target, key, mods);
            QVERIFY(button == nullptr || !pressedLook());
            QCOMPARE(Sent(*panel), command ? QStringList{command} : QStringList{});
            QVERIFY(panel->isVisible());  // Esc and Enter are keys here, never dialog actions
        };
        // Stopped, the hard-key panel's keyboard works nothing; the soft-key panel's PC keys
        // send though its keys are disabled.
        if (!soft) {
            for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_5}) {
                press(panel.get(), {key, {}, 0, nullptr});
            }
            QCOMPARE(panel->result(), 0);
            panel->Command(ids::kCmdStart);
        }
        const Qt::KeyboardModifiers pad = Qt::KeypadModifier;
        // clang-format off
        const QList<PcKey> keys = soft
            ? QList<PcKey>{{Qt::Key_F3, {}, 1016, "KEYP:CUS3"}, {Qt::Key_7, pad, 1035, "KEYP:NUM7"},
                           {Qt::Key_Escape, {}, 1013, "KEYP:ESC"}, {Qt::Key_Period, {}, 0, nullptr}}
            : QList<PcKey>{{Qt::Key_5, {}, 1089, "KEYP:NUM5"}, {Qt::Key_Period, pad, 1095, "KEYP:JUM"},
                           {Qt::Key_Escape, {}, 1096, "KEYP:ESC"}, {Qt::Key_Left, {}, 0, nullptr}};
        // clang-format on
        for (const PcKey& k : keys) {
            press(panel.get(), k);
        }
        // Keys reach the panel through whichever of its controls has the focus.
        press(panel->Key(soft ? 1014 : 1079), keys.front());
        // A held key repeats as release and press pairs; one command, on the real release.
        const Qt::Key held = soft ? Qt::Key_F3 : Qt::Key_Return;
        QTest::keyPress(panel.get(), held);
        for (int i = 0; i < 10; ++i) {
            QKeyEvent up(QEvent::KeyRelease, held, Qt::NoModifier, QString(), true);
            QApplication::sendEvent(panel.get(), &up);
            QKeyEvent down(QEvent::KeyPress, held, Qt::NoModifier, QString(), true);
            QApplication::sendEvent(panel.get(), &down);
        }
        QTest::keyRelease(panel.get(), held);
        QCOMPARE(Sent(*panel), QStringList{soft ? "KEYP:CUS3" : "KEYP:ENTR"});
        if (soft) {
            panel->Command(ids::kCmdStart);
        }
        QVERIFY(KeysEnabled(*panel, true));
        QCOMPARE(Menu(*panel), "000111111 101010000 1111" + more);
        for (const int id : soft ? QList<int>{1017, 1037, 1044} : QList<int>{1079, 1095, 1084}) {
            QTest::mouseClick(panel->Key(id), Qt::LeftButton, {}, panel->Key(id)->rect().center());
        }
        // Grab the knob at the top and move to three o'clock: three steps clockwise.
        CKnobButton* knob = panel->Knob();
        const QPoint c = knob->Center();
        QTest::mousePress(knob, Qt::LeftButton, {}, c - QPoint(0, 40));
        QTest::mouseMove(knob, c + QPoint(40, 0));
        QTest::mouseRelease(knob, Qt::LeftButton, {}, c + QPoint(40, 0));
        QCOMPARE(knob->Position(), 4);
        // The hard-key send path widens the knob's "KEYP:RIGH".
        const QString right = soft ? "KEYP:RIGH" : "KEYP:RIGHT";
        QStringList expected = soft ? QStringList{"KEYP:CUS4", "KEYP:NUM9", "KEYP:RIGH"}
                                    : QStringList{"KEYP:MARK", "KEYP:JUM", "KEYP:AUTO"};
        expected << right << right << right;
        if (soft) {
            // The hidden keyboard button has no key or menu item; its command message sends.
            auto* button = panel->findChild<QAbstractButton*>(QStringLiteral("ctrl1109"));
            QVERIFY(button != nullptr && !button->isVisible());
            button->click();
            expected << "SAVE:KEYP:STRS [QVRemote]";
        }
        QCOMPARE(Sent(*panel), expected);
        panel->Command(ids::kCmdScreenMode);
        QCOMPARE(Menu(*panel).section(' ', 1, 1), QStringLiteral("101010010"));
        panel->Command(ids::kCmdScreenMode);
        panel->Command(ids::kCmdStop);
        QVERIFY(KeysEnabled(*panel, false));
        QCOMPARE(Menu(*panel), "011011111 100110000 0111" + more);
        // The quality items send and store; the soft-key panel's Start repeats the choice.
        for (const auto& [id, command, stored] :
             {std::tuple{ids::kCmdQualityMedium, "KEYP:QUAL:NORM", 1},
              std::tuple{ids::kCmdQualityHigh, "KEYP:QUAL:HIGH", 0},
              std::tuple{ids::kCmdQualityLow, "KEYP:QUAL:LOW", 2}}) {
            panel->Command(id);
            QCOMPARE(Sent(*panel), QStringList{command});
            QCOMPARE(Stored(qv::kSetQuality).toInt(), stored);
        }
        panel->Command(ids::kCmdStart);
        // A release whose press went to another window sends nothing; other windows keep theirs.
        QTest::keyRelease(panel.get(), Qt::Key_2);
        auto* other = new QDialog(panel.get());
        other->show();
        QTest::keyClick(other, Qt::Key_2);
        QCOMPARE(Sent(*panel), soft ? QStringList{"KEYP:QUAL:LOW"} : QStringList{});
        // Shared in the browser: pane 0 counts viewers; a viewer gets the frames as served, its
        // presses take the window's own send path only while remote control runs.
        QCOMPARE(ItemAfter(*panel, ids::kCmdAutoReconnect),
                 std::pair(QStringLiteral("Share in browser\u2026"), int(ids::kCmdShare)));
        ShareChoice choice;
        choice.mode = ShareChoice::Control;
        choice.port = 0;  // any free port: tests run side by side
        QString error;
        QSignalSpy started(&panel->panelSession(), &PanelSession::shareStarted);
        QVERIFY2(panel->panelSession().ApplyShare(choice, error), qPrintable(error));
        // Nothing waited for: the pane and the links follow the share's word.
        QVERIFY(!Pane0(*panel).contains("share:"));
        QVERIFY(panel->panelSession().ShareLinkList().isEmpty());
        QVERIFY(started.wait(kShareDeadline));
        QCOMPARE(started.at(0).at(1).toString(), QString());
        ShareLinks links = panel->panelSession().ShareLinkList();
        QCOMPARE(links.size(), 2);
        QCOMPARE(links[1].first, QStringLiteral("Control"));
        QVERIFY(links[1].second.startsWith("http://127.0.0.1:"));
        QTRY_VERIFY(Pane0(*panel).contains("share: 0 viewers"));
        const auto viewer = Viewer::Following(links[1].second);
        QTRY_VERIFY(Pane0(*panel).contains("share: 1 viewer"));
        QTRY_VERIFY_WITH_TIMEOUT(viewer->frames.size() >= 2, 10000);
        QVERIFY(ServedIndex(Bytes(viewer->frames[1].begin(), viewer->frames[1].end())) >= 0);
        const QString marker = QStringLiteral(R"({"t":"key","id":%1})").arg(soft ? 1027 : 1079);
        viewer->Send(marker);
        QTRY_VERIFY(LogText().contains(
            QStringLiteral("Share 127.0.0.1:%1: KEYP:MARK").arg(viewer->ws.localPort()).toUtf8()));
        QCOMPARE(Sent(*panel), QStringList{"KEYP:MARK"});
        panel->Command(ids::kCmdStop);
        QTRY_VERIFY(!viewer->texts.empty() &&
                    !viewer->texts.back().value("streaming").toBool(true));
        viewer->Send(marker);
        QTRY_COMPARE(viewer->Why("refused"), QStringLiteral("remote control is not running"));
        QCOMPARE(Sent(*panel), QStringList{});
        // Disconnect ends every viewer at once.
        QElapsedTimer t;
        t.start();
        panel->Command(ids::kCmdDisconnect);
        QTRY_VERIFY_WITH_TIMEOUT(viewer->closed, 2000);
        QVERIFY(t.elapsed() < 2000);
        QVERIFY(!Pane0(*panel).contains("share:"));
        // Stopped before it listens: its word, delivered late, changes nothing.
        started.clear();
        QVERIFY(panel->panelSession().ApplyShare(choice, error));
        panel->panelSession().StopShare();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        QCOMPARE(started.count(), 0);
        QVERIFY(!Pane0(*panel).contains("share:"));
        QVERIFY(panel->panelSession().ShareLinkList().isEmpty());
        // Shared again for the end of the walk: closing the window ends its viewer too.
        QVERIFY(panel->panelSession().ApplyShare(choice, error));
        QVERIFY(started.wait(kShareDeadline));
        const auto last = Viewer::Following(panel->panelSession().ShareLinkList()[0].second);
        QTRY_VERIFY(Pane0(*panel).contains("share: 1 viewer"));
        OnDialog<CDlgIP>([](CDlgIP& dlg) {
            QCOMPARE(dlg.findChild<CIpAddressCtrl*>()->Field(0)->text(), QStringLiteral("127"));
            QTest::keyClick(dlg.findChild<CIpAddressCtrl*>()->Field(0), Qt::Key_Escape);
        });
        panel->Command(ids::kCmdIpAddress);
        QCOMPARE(panel->view().PaneText(3), QStringLiteral("TCP/IP : 127.0.0.1"));
        OnDialog<CDlgIP>(
            [](CDlgIP& dlg) { TypeAddress(dlg.findChild<CIpAddressCtrl*>(), "192.168.1.20"); });
        panel->Command(ids::kCmdIpAddress);
        QCOMPARE(panel->view().PaneText(3),
                 (soft ? "TCP/IP : " : "IP : ") + QString("192.168.1.20"));
        QCOMPARE(std::tuple(store_->Load().method, store_->Load().ip),
                 std::tuple(1, std::string("192.168.1.20")));
        t.restart();
        panel->close();
        panel.reset();
        QTRY_VERIFY_WITH_TIMEOUT(last->closed, 2000);
        QVERIFY(t.elapsed() < 2000);
    }
    void scaleTouchesAndScreenMode_data() { AddKinds(); }
    // The soft-key panel relays out at each scale and stores it; the hard-key panel keeps the
    // other's stored scale (out of range: 100 %) and is drawn full. Touches become pixels; screen
    // mode shows the picture alone, twice restores, and is stored.
    void scaleTouchesAndScreenMode() {
        QFETCH(bool, soft);
        QVERIFY(soft || store_->StoreInt(qv::kSetScale, 2) == 1);
        auto panel = Open(soft);
        const QPoint corner = panel->pos();
        const auto click = [&](QPoint p) { QTest::mouseClick(panel.get(), Qt::LeftButton, {}, p); };
        if (soft) {
            const QSize full = panel->size();
            CSkinButton* esc = panel->Key(1013);
            panel->Command(ids::kCmdScale85);
            QCOMPARE(Stored(qv::kSetScale).toInt(), 1);
            // The pressed look of a held PC key is this scale's.
            QTest::keyPress(panel.get(), Qt::Key_Escape);
            QCOMPARE(esc->Image(CSkinButton::kNormal), qv::SkinImage(449));
            QTest::keyRelease(panel.get(), Qt::Key_Escape);
            QCOMPARE(esc->Image(CSkinButton::kNormal), qv::SkinImage(448));
            // The current scale once more: nothing is stored.
            QSettings(ini_, QSettings::IniFormat).remove(QStringLiteral("Connection/Scale"));
            panel->Command(ids::kCmdScale85);
            QVERIFY(!Stored(qv::kSetScale).isValid());
            panel->Command(ids::kCmdScale100);
            QCOMPARE(Stored(qv::kSetScale).toInt(), 0);
            QCOMPARE(panel->size(), full);
            QCOMPARE(panel->pos(), corner);
            panel->panelSession().Action(ids::kCmdScale70)->trigger();
            QCOMPARE(panel->scale(), 2);  // frames and touches follow
            QCOMPARE(Stored(qv::kSetScale).toInt(), 2);
            QCOMPARE(panel->pos(), corner);
            QCOMPARE(panel->Knob()->Center(), QPoint(61, 61));  // from the 70 % knob's frames
            QCOMPARE(panel->screen().size(), QSize(559, 419));
            // At 70 %: touches only for a touch-screen model (the last connection's).
            auto& wren = static_cast<CRemoteDlgWren&>(*panel);
            QCOMPARE(wren.ModelKind(), 4);
            sim_->instrument().SetModel("TQ381A");
            Live(*panel);
            const qv::ScreenRect r = panel->screenRect();
            click(QPoint(r.left + 100, r.top + 50));
            QCOMPARE(Sent(*panel), QStringList{});
            panel->Command(ids::kCmdStop);
            panel->Command(ids::kCmdDisconnect);
            QTRY_COMPARE(panel->view().PaneText(1), QStringLiteral("Disconnected"));
            sim_->instrument().SetModel("QV392B");
            Live(*panel);
            QCOMPARE(wren.ModelKind(), 6);
            click(QPoint(r.left + 558, r.top + 10));
            click(QPoint(r.right, r.top + 10));  // the edge
            QCOMPARE(Sent(*panel), QStringList{"KEYP 797,14"});
        } else {
            QCOMPARE(Stored(qv::kSetScale).toInt(), 2);
            QCOMPARE(panel->scale(), 0);
            QCOMPARE(panel->size(), CRemoteDlgRook::kNormalClient);
            QCOMPARE(panel->grab().toImage().pixelColor(1022, 678),
                     qv::SkinImage(243).pixelColor(1022, 678));
            Live(*panel);
            // Unscaled offsets from the picture's corner; its right edge is outside.
            for (const QPoint p :
                 {QPoint(211, 75), QPoint(111, 25), QPoint(910, 504), QPoint(911, 100)}) {
                click(p);
            }
            QCOMPARE(Sent(*panel), (QStringList{"KEYP 100,50", "KEYP 0,0", "KEYP 799,479"}));
        }
        // Size, picture and which keys show inside the window.
        const auto snapshot = [&] {
            QString keys;
            for (int id = Keys(*panel).first; id <= Keys(*panel).second; ++id) {
                const QWidget* key = panel->Key(id);
                keys += key->isVisible() && panel->rect().intersects(key->geometry()) ? '1' : '0';
            }
            const qv::ScreenRect r = panel->screenRect();
            return QString::asprintf("%dx%d (%d,%d)-(%d,%d) ", panel->width(), panel->height(),
                                     r.left, r.top, r.right, r.bottom) +
                   keys;
        };
        const QString normal = snapshot();
        const int keys = Keys(*panel).second - Keys(*panel).first + 1;
        QVERIFY(normal.endsWith(' ' + QString(keys, '1')));
        CScreenView& screen = panel->screen();
        const QSize picture = screen.size();
        const int shown = screen.framesShown();
        panel->Command(ids::kCmdScreenMode);
        QCOMPARE(Stored(qv::kSetHideKeyBtn).toInt(), 1);
        const QRect status = panel->panelSession().statusBar()->geometry();
        QCOMPARE(screen.geometry(), QRect(QPoint(0, 0), picture));
        QCOMPARE(panel->size(), QSize(picture.width(), picture.height() + status.height()));
        QVERIFY(snapshot().endsWith(' ' + QString(keys, '0')));
        QVERIFY(!panel->rect().intersects(panel->Knob()->geometry()));
        // Frames keep coming at their size; a touch at the corner, none on the status bar.
        QTRY_VERIFY_WITH_TIMEOUT(screen.framesShown() > shown, 5000);
        QCOMPARE(screen.frame().size(), picture);
        if (!soft) {
            click(QPoint(100, 50));
            click(QPoint(100, 490));
            QCOMPARE(Sent(*panel), QStringList{"KEYP 100,50"});
            panel->Command(ids::kCmdStop);
            click(QPoint(100, 50));
            QCOMPARE(Sent(*panel), QStringList{});
        }
        panel->Command(ids::kCmdScreenMode);
        QCOMPARE(snapshot(), normal);
        QCOMPARE(panel->pos(), corner);
        QCOMPARE(Stored(qv::kSetHideKeyBtn).toInt(), 0);
        panel->Command(ids::kCmdScreenMode);
        panel.reset();
        QSettings(ini_, QSettings::IniFormat).setValue("Connection/Scale", soft ? 2 : 5);
        panel = Open(soft);
        QVERIFY(panel->ScreenMode());
        QCOMPARE(panel->screen().geometry().topLeft(), QPoint(0, 0));
        QCOMPARE(Stored(qv::kSetScale).toInt(), soft ? 2 : 0);
    }
    void saveCopyHostileScreensAndALostLink_data() { AddKinds(); }
    // Ctrl+S saves and Ctrl+C copies the frame's bytes as sent, live and after Stop; before any
    // frame both say there is none, and nothing records. Each bad screen in turn is refused and
    // logged, each panel meeting two; the last good frame stays, streaming goes on. Then a lost
    // link heals, or without healing is reported.
    void saveCopyHostileScreensAndALostLink() {
        namespace bad = qv::badjpeg;
        QFETCH(bool, soft);
        const std::pair<const char*, QByteArray> hostile[] = {
            {"progressive bomb", bad::ProgressiveBomb(800, 480, 10000)},
            {"60000x60000 header", bad::HugeHeader(60000, 60000)},
            {"truncated", bad::Truncated(800, 600)},
            {"PNG", bad::Encode(bad::Screen(800, 600), "png")}};
        const QString model = soft ? "QV392B" : "QV364C";
        sim_->instrument().SetModel(model.toStdString());
        auto p = Open(soft);
        const auto ctrl = [&p](Qt::Key key) {
            QTest::keyClick(p.get(), key, Qt::ControlModifier);
            return Pane0(*p);
        };
        QGuiApplication::clipboard()->clear();
        QCOMPARE(ctrl(Qt::Key_C), QStringLiteral("No screen to copy yet"));
        QCOMPARE(ctrl(Qt::Key_S), QStringLiteral("No screen to save yet"));
        const QString folder = pictures_ + "/QVRemote";
        QVERIFY(Jpegs(folder).isEmpty());
        p->UpdateMenu();
        QVERIFY(!p->panelSession().Action(ids::kCmdRecord)->isEnabled());
        p->Command(ids::kCmdRecord);
        QVERIFY(!Capture(*p).Recording());

        Live(*p);
        WaitFrames(*p, 2);
        const QString note = ctrl(Qt::Key_S);
        QStringList files = Jpegs(folder);
        QCOMPARE(files.size(), 1);
        QVERIFY2(
            QRegularExpression("^" + model + "_\\d{8}_\\d{6}\\.jpg$").match(files[0]).hasMatch(),
            qPrintable(files[0]));
        const Bytes saved = ReadAll(folder + '/' + files[0]);
        QCOMPARE(saved, *Capture(*p).LastFrame());
        QVERIFY(ServedIndex(saved) >= 0);
        QCOMPARE(Mode(folder + '/' + files[0]), mode_t(0600));
        QCOMPARE(Mode(folder), mode_t(0700));
        QVERIFY2(note.startsWith("Saved to ") && note.endsWith(files[0]), qPrintable(note));
        QCOMPARE(ctrl(Qt::Key_C), QStringLiteral("Screen copied"));
        const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
        QVERIFY(mime != nullptr);
        QCOMPARE(mime->data("image/jpeg"),
                 QByteArray(reinterpret_cast<const char*>(saved.data()), qsizetype(saved.size())));
        const auto decoded = qv::ImageServices::DecodeBytes(saved.data(), saved.size());
        QCOMPARE(qvariant_cast<QImage>(mime->imageData()).convertToFormat(QImage::Format_RGB32),
                 decoded.value_or(QImage()).convertToFormat(QImage::Format_RGB32));

        // After Stop the last frame is still there to save; a second save keeps the first.
        p->Command(ids::kCmdStop);
        QTRY_VERIFY(!p->session().ExchangeUnderWay());
        QApplication::processEvents();
        p->Command(ids::kCmdSaveScreen);
        files = Jpegs(folder);
        QCOMPARE(files.size(), 2);
        for (const QString& f : files) {
            QVERIFY(ServedIndex(ReadAll(folder + '/' + f)) >= 0);
        }
        p->Command(ids::kCmdStart);
        CScreenView& screen = p->screen();
        WaitFrames(*p, 1);
        QCOMPARE(Refusals(), 0);
        int shown = -1;
        QImage last;
        for (const auto& [name, bytes] : std::span(hostile).subspan(soft ? 2 : 0, 2)) {
            const int before = Refusals();
            sim_->instrument().SetScreenOverride(
                std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
            // The exchange under way may carry the screen before: the second refusal is this one's.
            QTRY_VERIFY2_WITH_TIMEOUT(Refusals() >= before + 2, name, 10000);
            QApplication::processEvents();
            if (shown < 0) {
                shown = screen.framesShown();
                last = screen.frame();
                QCOMPARE(last.size(), QSize(800, soft ? 600 : 480));
            }
            QVERIFY2(screen.framesShown() == shown && screen.frame() == last, name);
            QCOMPARE(p->view().PaneText(1), QStringLiteral("Connected"));
        }
        sim_->instrument().SetScreenOverride(std::nullopt);
        WaitFrames(*p, 1);
        const QStringList frames = QDir(temp_).entryList(QDir::Files);
        QVERIFY(!frames.isEmpty());
        QCOMPARE(Mode(QDir(temp_).filePath(frames.last())), mode_t(0600));
        const std::uint16_t port = sim_->port();
        p->Command(ids::kCmdRecord);
        QTRY_VERIFY_WITH_TIMEOUT(Capture(*p).RecordedFrames() >= 1, 10000);
        // Healing: the picture says so, keys and knob show disabled, Disconnect and Stop stay;
        // the recording goes on in the same folder.
        sim_->Stop();
        QTRY_VERIFY_WITH_TIMEOUT(
            screen.Mark().startsWith(QStringLiteral("Link lost \u2014 reconnecting")), 2000);
        QVERIFY(KeysEnabled(*p, false));
        QCOMPARE(Menu(*p).left(4), QStringLiteral("0101"));
        QVERIFY(Capture(*p).Recording());
        const int recorded = Capture(*p).RecordedFrames();
        // Back on the same port: the picture is live again without a click.
        QVERIFY(sim_->Start("127.0.0.1", port));
        QTRY_COMPARE_WITH_TIMEOUT(p->view().PaneText(1), QStringLiteral("Connected"), 5000);
        WaitFrames(*p, 1);
        QVERIFY(screen.Mark().isEmpty());
        QVERIFY(KeysEnabled(*p, true));
        QTRY_VERIFY_WITH_TIMEOUT(Capture(*p).RecordedFrames() > recorded, 15000);
        // Without the self-healing link the loss is reported, the window stays as it is and the
        // recording ends with the stream.
        p->Command(ids::kCmdAutoReconnect);
        sim_->Stop();
        QTRY_COMPARE_WITH_TIMEOUT(p->view().PaneText(1), QStringLiteral("Disconnected"), 5000);
        QVERIFY(p->isVisible());
        QVERIFY(!p->engine().IsConnected());
        QVERIFY(!Capture(*p).Recording());
        QVERIFY(!Pane0(*p).startsWith("REC"));
        QCOMPARE(Jpegs(Capture(*p).RecordingFolder()).size(), Capture(*p).RecordedFrames());
    }
};

// Record, its export, replay, the live rate, pane 0 and the picture's age.
class TestCapture : public PanelTest {
    Q_OBJECT

  private slots:
    // Pane 0: the session's text underneath, the recording's mark before it, a note over both a
    // while. Streamed, a picture ages after 3 s without a new frame, not before, and is dimmed.
    void paneNoteAndPictureAge() {
        QString shown;
        PaneNote pane([&](const QString& t) { shown = t; });
        pane.SetBase("Link steady");
        pane.SetMark("REC 3");
        QCOMPARE(shown, QStringLiteral("REC 3   Link steady"));
        pane.Show("Saved to ~/x.jpg", 1);
        // The session may change its text meanwhile; it shows when the note is gone.
        pane.SetBase("Link slow");
        QCOMPARE(shown, QStringLiteral("Saved to ~/x.jpg"));
        QImage frame(80, 60, QImage::Format_RGB32);
        frame.fill(Qt::darkCyan);
        CScreenView view(QSize(80, 60));
        qint64 now = 1'000'000;
        view.SetClock([&now] { return now; });
        view.show();
        view.PostFrame(frame);
        QTRY_COMPARE(view.framesShown(), 1);
        view.SetLive(true);
        QCOMPARE(CScreenView::kStaleAfterMs, 3000);
        now += CScreenView::kStaleAfterMs - 1;
        view.CheckAge();
        QVERIFY(view.Mark().isEmpty());
        // The one-second note goes by itself (five seconds allowed).
        QTRY_COMPARE_WITH_TIMEOUT(shown, QStringLiteral("REC 3   Link slow"), 5000);
        pane.SetMark({});
        QCOMPARE(shown, QStringLiteral("Link slow"));
        now += 1;
        view.CheckAge();
        QCOMPARE(view.Mark(), QStringLiteral("last frame 3 s ago"));
        QVERIFY(view.grab().toImage().pixelColor(2, 2).value() < frame.pixelColor(2, 2).value());
        view.PostFrame(frame);
        QTRY_VERIFY(view.Mark().isEmpty());
        // The view's own timer looks at the age (every half second; ten times that allowed).
        now += CScreenView::kStaleAfterMs;
        QTRY_VERIFY_WITH_TIMEOUT(!view.Mark().isEmpty(), 5000);
        // The healing overlay wins over the age; a picture that is not streamed never ages.
        view.SetOverlay(QStringLiteral("Link lost \u2014 reconnecting (attempt 2)"));
        now += 10 * CScreenView::kStaleAfterMs;
        view.CheckAge();
        QCOMPARE(view.Mark(), QStringLiteral("Link lost \u2014 reconnecting (attempt 2)"));
        view.SetOverlay(QString());
        QCOMPARE(view.Mark(), QStringLiteral("last frame 33 s ago"));
        view.SetLive(false);
        QVERIFY(view.Mark().isEmpty());
        now += 10 * CScreenView::kStaleAfterMs;
        view.CheckAge();
        QVERIFY(view.Mark().isEmpty());
    }
    // With the write hung and the queue full, the drawing thread waits for room; a stop ends
    // that wait at once. Released, every queued frame is written and the note counts them.
    void aFullQueueWaitsOnlyUntilTheStop() {
        HeldWrites held;  // first: the capture's writer uses it until the capture is gone
        QStringList notes;
        ScreenCapture capture;
        connect(&capture, &ScreenCapture::note, &capture,
                [&notes](const QString& text) { notes << text; });
        capture.SetRecordWriter(held.Writer());
        QVERIFY(capture.StartRecording());
        const auto frame = std::make_shared<const Bytes>(Bytes{0xFF, 0xD8, 0xFF, 0xD9});
        // The frame in the writer's hands, a full queue, and one more that has to wait.
        const std::size_t frames = ScreenCapture::kQueuedFrames + 2;
        std::atomic<std::size_t> drawn = 0;  // FrameDrawn calls begun
        std::atomic<bool> drawingDone = false;
        std::thread drawing([&] {
            for (std::size_t i = 0; i < frames; ++i) {
                drawn = i + 1;
                capture.FrameDrawn(frame);
            }
            drawingDone = true;
        });
        // Whatever happens below, the writer and the drawing thread end with the test.
        const auto cleanup = qScopeGuard([&] {
            held.Release();
            capture.StopRecording();
            if (drawing.joinable()) {
                drawing.join();
            }
        });
        QTRY_VERIFY_WITH_TIMEOUT(held.entered && drawn == frames, 10000);
        QVERIFY(!drawingDone);
        capture.StopRecording();
        QVERIFY(!capture.Recording());
        QTRY_VERIFY_WITH_TIMEOUT(drawingDone, 10000);
        QVERIFY(notes.isEmpty());
        held.Release();
        drawing.join();
        const int queued = int(frames) - 1;
        QTRY_COMPARE_WITH_TIMEOUT(notes.size(), 1, 10000);
        QCOMPARE(capture.RecordedFrames(), queued);
        QCOMPARE(
            notes.front(),
            QStringLiteral("Recorded %1 frames in %2").arg(queued).arg(capture.RecordingFolder()));
        QCOMPARE(Jpegs(capture.RecordingFolder()).size(), queued);
    }
    // "LiveRate" (Normal by default) is stored; at Responsive a key brings an early exchange.
    // Recorded frames land in a new private folder; the replay bar plays the same bytes in
    // order, and they export from the menu and the bar. Replay and remote control take the
    // picture from each other. Then saving and recording meet a planted link, a full disk, an
    // unusable folder and a hung write; long exports are cancelled, refused and cut short.
    void liveRateRecordReplayPlantedLinkFullDiskHungWriteExports() {
        HeldWrites held;  // first: the panel's writer uses it until the panel is gone
        auto p = Open(true);
        const auto release = qScopeGuard([&] { held.Release(); });
        QVERIFY(Checked(*p, ids::kCmdLiveNormal));
        QVERIFY(!Stored(qv::kSetLiveRate).isValid());
        p->Command(ids::kCmdLiveFast);
        QCOMPARE(Stored(qv::kSetLiveRate).toInt(), 2);
        p->Command(ids::kCmdLiveResponsive);
        QCOMPARE(Stored(qv::kSetLiveRate).toInt(), 1);
        p.reset();
        p = Open(true);
        QVERIFY(Checked(*p, ids::kCmdLiveResponsive));
        QVERIFY(!Checked(*p, ids::kCmdLiveNormal));
        Live(*p);
        WaitFrames(*p, 1);
        const auto stamp = [&] {
            return qv::sim::SimScreen::ReadCommandStamp(p->screen().frame(), 800, 600).value_or(-1);
        };
        QCOMPARE(p->session().EarlyExchanges(), 0);
        // A key just before a regular exchange is shown by it; keys until one brings an early one.
        int sent = 0;
        while (p->session().EarlyExchanges() == 0 && sent < 8) {
            p->SendKey("KEYP:NUM5");
            ++sent;
            QTRY_COMPARE_WITH_TIMEOUT(stamp(), sent, 5000);
        }
        QTRY_COMPARE(p->session().EarlyExchanges(), 1);

        p->Command(ids::kCmdLiveNormal);
        QCOMPARE(Stored(qv::kSetLiveRate).toInt(), 0);
        p->SendKey("KEYP:NUM6");
        QTRY_COMPARE_WITH_TIMEOUT(stamp(), sent + 1, 5000);
        WaitFrames(*p, 1);
        QCOMPARE(p->session().EarlyExchanges(), 1);

        auto* bar = qobject_cast<CReplayBar*>(static_cast<CRemoteDlgWren&>(*p).replayBar());
        QVERIFY(bar != nullptr && bar->isHidden());
        const QSize size = p->size();
        const QRect status = p->panelSession().statusBar()->geometry();
        // The menu item shows the bar under the panel; the panel's own numbers stay.
        p->Command(CRemoteDlgWren::kCmdReplay);
        QVERIFY(!bar->isHidden());
        QCOMPARE(p->size(), size + QSize(0, bar->height()));
        QCOMPARE(p->panelSession().statusBar()->geometry(), status);
        p->Command(ids::kCmdRecord);
        QVERIFY(Capture(*p).Recording());
        QVERIFY(Checked(*p, ids::kCmdRecord));
        QTRY_VERIFY_WITH_TIMEOUT(Capture(*p).RecordedFrames() >= 4, 10000);
        QTRY_VERIFY(Pane0(*p).startsWith("REC "));
        p->Command(ids::kCmdRecord);  // unchecked: nothing more is written there
        QVERIFY(!Capture(*p).Recording());
        // The note follows the last frame queued before the stop.
        QTRY_VERIFY(Pane0(*p).startsWith("Recorded "));
        const int frames = Capture(*p).RecordedFrames();
        const QString folder = Capture(*p).RecordingFolder();
        QVERIFY2(QRegularExpression("/QVRemote/rec_\\d{8}_\\d{6}$").match(folder).hasMatch(),
                 qPrintable(folder));
        QCOMPARE(Pane0(*p), QStringLiteral("Recorded %1 frames in %2").arg(frames).arg(folder));
        QVERIFY(!Checked(*p, ids::kCmdRecord));
        QCOMPARE(Mode(folder), mode_t(0700));
        WaitFrames(*p, 2);
        const QStringList files = Jpegs(folder);
        QCOMPARE(files.size(), frames);
        std::vector<Bytes> recorded;
        int previous = -1;
        for (const QString& f : files) {
            QCOMPARE(Mode(folder + '/' + f), mode_t(0600));
            recorded.push_back(ReadAll(folder + '/' + f));
            // In name order is in the order the instrument sent them.
            const int at = ServedIndex(recorded.back());
            QVERIFY2(at > previous, qPrintable(f));
            previous = at;
        }

        ReplayPlayer& player = bar->player();
        auto* exportButton =
            bar->findChild<QPushButton*>(QStringLiteral("ctrl%1").arg(ids::kReplayExport));
        QVERIFY(exportButton != nullptr && !exportButton->isEnabled());  // no folder open yet
        QCOMPARE(exportButton->text(), QStringLiteral("Export video\u2026"));
        player.chooseFolder = [&] { return folder.toStdString(); };
        std::vector<Bytes> played;
        player.draw = [&, draw = player.draw](const std::string& path) {
            played.push_back(ReadAll(QString::fromStdString(path)));
            return draw(path);
        };
        player.Open();
        QVERIFY(exportButton->isEnabled());
        player.Play();
        // A replay takes the picture: remote control stops.
        QVERIFY(!p->session().Streaming());
        QCOMPARE(p->view().PaneText(2), QStringLiteral("Remote Control Stopped"));
        const int shown = p->screen().framesShown();
        player.Faster();
        player.Faster();  // 4X
        QTRY_VERIFY_WITH_TIMEOUT(!player.playing(), 5000 + frames * 300);
        QCOMPARE(played, recorded);
        QTRY_VERIFY(p->screen().framesShown() >= shown + frames);
        // Exported from the menu (the item after Record): the recorded bytes at the times their
        // names give; from the replay bar: H.264, the open folder's frames, a private file.
        QCOMPARE(ItemAfter(*p, ids::kCmdRecord), std::pair(QStringLiteral("Export recording\u2026"),
                                                           int(ids::kCmdExportRecording)));
        VideoExport& exporter = p->panelSession().videoExport();
        QSignalSpy exported(&exporter, &VideoExport::finished);
        const QString mkv = dir_.filePath("window.mkv");
        const QString mp4 = dir_.filePath("bar.mp4");
        QString askedFor;
        exporter.chooseFolder = [&] { return Capture(*p).RecordingFolder(); };
        exporter.chooseOutput = [&](const QString& f) {
            askedFor = f;
            return exported.isEmpty() ? mkv : mp4;
        };
        p->panelSession().Action(ids::kCmdExportRecording)->trigger();
        QCOMPARE(askedFor, folder);
        QVERIFY(exporter.Running() && exporter.dialog() && exporter.dialog()->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(exported.count(), 1, 20000);
        QVERIFY(exported.first().at(0).toBool());
        QVERIFY(exporter.dialog() == nullptr || !exporter.dialog()->isVisible());
        QCOMPARE(Pane0(*p), QStringLiteral("Exported %1 frames to %2").arg(frames).arg(mkv));
        std::vector<Bytes> copied;
        for (const std::string& c :
             qv::test::ExtractFrames(mkv.toStdString(), dir_.filePath("copied").toStdString())) {
            copied.emplace_back(c.begin(), c.end());
        }
        QCOMPARE(copied, recorded);
        const auto time = [&](int i) {
            return *qv::media::TimeOfDayOfName(files[i].toStdString());
        };
        const std::int64_t span = time(frames - 1) - time(0);
        const std::vector<std::int64_t> at = qv::test::ProbeVideo(mkv.toStdString()).packetMs;
        QCOMPARE(at.back(), span);
        QTest::mouseClick(exportButton, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(exported.count(), 2, 30000);
        QVERIFY(exported.last().at(0).toBool());
        const qv::test::VideoFacts facts = qv::test::ProbeVideo(mp4.toStdString());
        QCOMPARE(std::pair(facts.codec, facts.frames), std::pair(std::string("h264"), frames));
        // As long as the recording and its last frame held one step, within one frame.
        const double lasted = double(span + at.back() - at[at.size() - 2]);
        QVERIFY(std::abs(facts.duration * 1000 - lasted) <= double(span) / frames);
        QCOMPARE(Mode(mp4), mode_t(0600));
        // At the end Play shows the last frame once more; starting remote control ends that.
        player.Play();
        QVERIFY(player.playing());
        p->Command(ids::kCmdStart);
        QVERIFY(!player.playing());
        QVERIFY(p->session().Streaming());
        p->Command(CRemoteDlgWren::kCmdReplay);
        QVERIFY(bar->isHidden());
        QCOMPARE(p->size(), size);

        // A link planted under the name a save would take is passed over, never followed. A full
        // disk ends the recording with a message; written frames stay whole, the rest none.
        WaitFrames(*p, 1);
        const QString victim = dir_.filePath("victim");
        QFile v(victim);
        QVERIFY(v.open(QIODevice::WriteOnly) && v.write("untouched") == 9);
        v.close();
        // This second and the next two: the save lands in one of them.
        const std::time_t now = std::time(nullptr);
        for (int s = 0; s < 3; ++s) {
            const std::time_t at = now + s;
            std::tm t{};
            localtime_r(&at, &t);
            QVERIFY(QFile::link(victim,
                                pictures_ + "/QVRemote/" + ScreenCapture::SaveName("QV392B", t)));
        }
        const QString saved = Capture(*p).SaveScreen("QV392B");
        QVERIFY(!saved.isEmpty() && !QFileInfo(saved).isSymLink());
        QCOMPARE(ReadAll(saved), *Capture(*p).LastFrame());
        QCOMPARE(ReadAll(victim), Bytes({'u', 'n', 't', 'o', 'u', 'c', 'h', 'e', 'd'}));
        QVERIFY(saved.endsWith("_2.jpg"));
        int calls = 0;
        // Three frames fit, of the fourth only half.
        Capture(*p).SetRecordWriter([&](int fd, const std::uint8_t* data, std::size_t n) {
            if (++calls <= 4) {
                return ::write(fd, data, calls == 4 ? n / 2 : n);
            }
            errno = ENOSPC;
            return ssize_t(-1);
        });
        p->Command(ids::kCmdRecord);
        QTRY_VERIFY_WITH_TIMEOUT(!Capture(*p).Recording(), 10000);
        const QString rec = Capture(*p).RecordingFolder();
        QCOMPARE(Capture(*p).RecordedFrames(), 3);
        QTRY_COMPARE(
            Pane0(*p),
            QString("Recording stopped: No space left on device; 3 frames kept in " + rec));
        QVERIFY(!Checked(*p, ids::kCmdRecord));
        QCOMPARE(QDir(rec).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(), 3);
        for (const QString& f : Jpegs(rec)) {
            QVERIFY(ServedIndex(ReadAll(rec + '/' + f)) >= 0);
        }
        QVERIFY(LogText().contains("Recording stopped: No space left on device"));
        WaitFrames(*p, 2);
        QVERIFY(p->session().Streaming());
        // A pictures folder that cannot be made is named with the reason; nothing starts.
        QVERIFY(QDir(pictures_).removeRecursively() && QFile(pictures_).open(QIODevice::WriteOnly));
        p->Command(ids::kCmdSaveScreen);
        QCOMPARE(Pane0(*p),
                 "Cannot save the screen in " + pictures_ + "/QVRemote: Not a directory");
        p->Command(ids::kCmdRecord);
        QVERIFY(!Capture(*p).Recording());
        QCOMPARE(Pane0(*p), "Cannot record in " + pictures_ + "/QVRemote: Not a directory");
        QVERIFY(!Checked(*p, ids::kCmdRecord));

        // A recorded frame whose write hangs holds neither the window nor its state changes: the
        // menu and Stop answer while it waits. Released, it and the frames queued behind it are
        // written, and the note counts them all.
        QVERIFY(QFile::remove(pictures_));
        Capture(*p).SetRecordWriter(held.Writer());
        p->Command(ids::kCmdRecord);
        QTRY_VERIFY_WITH_TIMEOUT(held.entered, 10000);
        QVERIFY(Checked(*p, ids::kCmdRecord));
        p->Command(ids::kCmdStop);
        QVERIFY2(!held.timedOut, "the window waited for the write");
        QCOMPARE(p->view().PaneText(2), QStringLiteral("Remote Control Stopped"));
        QVERIFY(!Capture(*p).Recording());
        QVERIFY(!Checked(*p, ids::kCmdRecord));
        QVERIFY(!Pane0(*p).startsWith("Recorded "));
        held.Release();
        QTRY_VERIFY_WITH_TIMEOUT(Pane0(*p).startsWith("Recorded "), 10000);
        const QString heldIn = Capture(*p).RecordingFolder();
        const int written = Capture(*p).RecordedFrames();
        QVERIFY(written >= 1);
        QCOMPARE(Pane0(*p), QStringLiteral("Recorded %1 frames in %2").arg(written).arg(heldIn));
        QCOMPARE(Jpegs(heldIn).size(), written);
        QVERIFY(!held.timedOut);

        // A long recording (a short one's frames named over and over) exported: cancelled in its
        // dialog, to a file that cannot be made, cut short by closing the window. No file, and
        // pane 0 says why.
        const QString longRec = dir_.filePath("rec_20261207_120000");
        QVERIFY(QDir().mkpath(longRec));
        const auto screens = qv::test::Screens(4);
        for (int i = 0; i < 600; ++i) {
            qv::test::WriteBytes(
                (longRec + '/' +
                 QString::fromStdString(qv::test::RecordedName(i + 1, 43200000 + 500LL * i)))
                    .toStdString(),
                screens[std::size_t(i % 4)]);
        }
        const QString out = dir_.filePath("out");
        QVERIFY(QDir().mkpath(out));
        const auto outFiles = [&] { return QDir(out).entryList(QDir::Files | QDir::Hidden); };
        exporter.chooseOutput = [&](const QString&) { return out + "/cancel.mp4"; };
        QVERIFY(exporter.ExportFolder(longRec));
        QTRY_VERIFY(exporter.dialog()->value() > 0);
        QVERIFY(exporter.dialog()->labelText().contains(
            QStringLiteral(" of 600 frames \u00b7 about ")));
        auto* cancel = exporter.dialog()->findChild<QPushButton*>();
        QVERIFY(cancel != nullptr);
        QTest::mouseClick(cancel, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(exported.count(), 3, 10000);
        QCOMPARE(exported.last().at(0).toBool(), false);
        QCOMPARE(Pane0(*p), QStringLiteral("Export cancelled; nothing was written"));
        QCOMPARE(outFiles(), QStringList{});
        QVERIFY(exporter.Start(longRec, dir_.filePath("nowhere/x.mkv"), true));
        QTRY_COMPARE_WITH_TIMEOUT(exported.count(), 4, 10000);
        QCOMPARE(Pane0(*p),
                 QStringLiteral("Export failed: cannot create %1: No such file or directory")
                     .arg(dir_.filePath("nowhere/x.mkv")));
        QVERIFY(exporter.Start(longRec, out + "/closed.mp4", false));
        QTRY_VERIFY(exporter.dialog()->value() > 0);
        QElapsedTimer closing;
        closing.start();
        p->close();
        p.reset();
        QVERIFY(closing.elapsed() < 2000);
        QCOMPARE(outFiles(), QStringList{});
    }
};

// "capture" as the first argument runs the capture group, else the window group.
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QTEST_SET_MAIN_SOURCE_PATH
    if (argc > 1 && std::strcmp(argv[1], "capture") == 0) {
        TestCapture test;
        argv[1] = argv[0];
        return QTest::qExec(&test, argc - 1, argv + 1);
    }
    TestPanels test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_panels.moc"
