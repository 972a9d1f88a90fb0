// Both front panels against the simulated instrument over real TCP: what only a window has,
// from key wiring and keyboard to scale, screen mode, the link dialogs and hostile screens.
#include <sys/stat.h>

#include <QAction>
#include <QLineEdit>
#include <QRadioButton>
#include <QStatusBar>

#include "dialogs/CDlgCommNew.h"
#include "dialogs/CDlgIP.h"
#include "dialogs/CIpAddressCtrl.h"
#include "panels/CScreenView.h"
#include "panels/softkey/CReplayBar.h"
#include "session/ActivityLog.h"
#include "tests/panels/BadJpegs.h"
#include "tests/panels/PanelRig.h"
#include "widgets/CKnobButton.h"
#include "widgets/SkinLibrary.h"

namespace ids = qv::ids;
using namespace std::chrono_literals;

namespace {

void AddKinds() {
    QTest::addColumn<bool>("soft");
    QTest::newRow("hard-key") << false;
    QTest::newRow("soft-key") << true;
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
    QTest::keyClick(ctrl->Field(0), Qt::Key_A, Qt::ControlModifier);
    for (const QChar c : text) {
        QTest::keyClicks(QApplication::focusWidget(), QString(c));
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
}

int Refusals() {
    QFile log(QString::fromStdString(qv::ActivityLog::Instance().Path()));
    return log.open(QIODevice::ReadOnly) ? log.readAll().count("   Image Load Failed\r\n") : -1;
}

// The panel's first and last key ids.
std::pair<int, int> Keys(CPanelDlg& panel) {
    return qobject_cast<CRemoteDlgWren*>(&panel) ? std::pair{ids::kSoftKeyFirst, ids::kSoftKeyLast}
                                                 : std::pair{ids::kHardKeyFirst, ids::kHardKeyLast};
}

}  // namespace

class TestPanels : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { QVERIFY(rig_.Prepare()); }
    // Data rows tagged "hard-key" meet the hard-key instrument's 800x480 screen.
    void init() { QVERIFY(rig_.Reset(!QByteArray(QTest::currentDataTag()).startsWith("hard"))); }
    void cleanup() { rig_.sim.reset(); }

    void clicksReachTheInstrument_data() { AddKinds(); }
    void clicksReachTheInstrument() {
        QFETCH(bool, soft);
        auto panel = Make(soft);
        rig_.Live(*panel);
        for (const int id : soft ? QList<int>{1017, 1037, 1044} : QList<int>{1079, 1095, 1084}) {
            QAbstractButton* key = panel->Key(id);
            QCOMPARE(key->objectName(), QStringLiteral("ctrl%1").arg(id));
            QTest::mouseClick(key, Qt::LeftButton, {}, key->rect().center());
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
    }
    void keysAndMenuFollowTheState_data() { AddKinds(); }
    void keysAndMenuFollowTheState() {
        QFETCH(bool, soft);
        auto panel = Make(soft);
        QVERIFY(KeysEnabled(*panel, false));
        QCOMPARE(MenuStates(*panel, false), QStringLiteral("100000011"));
        QCOMPARE(MenuStates(*panel, true), QStringLiteral("010110000"));
        // Connecting alone enables no key; a click on one sends nothing.
        rig_.Live(*panel, false);
        QVERIFY(KeysEnabled(*panel, false));
        QTest::mouseClick(panel->Key(Keys(*panel).first), Qt::LeftButton);
        QCOMPARE(Sent(*panel), QStringList{});
        QCOMPARE(MenuStates(*panel, false), QStringLiteral("011011111"));
        QCOMPARE(MenuStates(*panel, true), QStringLiteral("100110000"));
        panel->Command(ids::kCmdStart);
        QVERIFY(KeysEnabled(*panel, true));
        QCOMPARE(MenuStates(*panel, false), QStringLiteral("000111111"));
        QCOMPARE(MenuStates(*panel, true), QStringLiteral("101010000"));
        panel->Command(ids::kCmdScreenMode);
        QCOMPARE(MenuStates(*panel, true), QStringLiteral("101010010"));
        panel->Command(ids::kCmdScreenMode);
        panel->Command(ids::kCmdStop);
        QVERIFY(KeysEnabled(*panel, false));
        QCOMPARE(MenuStates(*panel, true), QStringLiteral("100110000"));
        // The quality items send and store; the soft-key panel's Start repeats the choice.
        for (const auto& [id, command, stored] :
             {std::tuple{ids::kCmdQualityMedium, "KEYP:QUAL:NORM", 1},
              std::tuple{ids::kCmdQualityHigh, "KEYP:QUAL:HIGH", 0},
              std::tuple{ids::kCmdQualityLow, "KEYP:QUAL:LOW", 2}}) {
            panel->Command(id);
            QCOMPARE(Sent(*panel), QStringList{command});
            QCOMPARE(rig_.Stored(qv::kSetQuality).toInt(), stored);
        }
        panel->Command(ids::kCmdStart);
        QCOMPARE(Sent(*panel), soft ? QStringList{"KEYP:QUAL:LOW"} : QStringList{});
    }
    void pcKeys_data() { AddKinds(); }
    void pcKeys() {
        // A PC key as the user presses it, and what the panel does with it.
        struct PcKey {
            Qt::Key key;
            Qt::KeyboardModifiers mods;
            int panelKey;         // 0: not a key of this panel
            const char* command;  // nullptr: nothing is sent
        };
        QFETCH(bool, soft);
        auto panel = Make(soft);
        rig_.Live(*panel, false);
        const auto press = [&](QWidget* target, const PcKey& k) {
            CSkinButton* button = panel->Key(k.panelKey);
            const auto pressedLook = [button] {
                return button->Image(CSkinButton::kNormal) == button->Image(CSkinButton::kPressed);
            };
            QTest::keyPress(target, k.key, k.mods);
            QVERIFY(button == nullptr || pressedLook());
            QTest::keyRelease(target, k.key, k.mods);
            QVERIFY(button == nullptr || !pressedLook());
            QCOMPARE(Sent(*panel), k.command ? QStringList{k.command} : QStringList{});
            QVERIFY(panel->isVisible());  // Esc and Enter are keys here, never dialog actions
        };
        if (!soft) {
            // Stopped: the keyboard works nothing; Esc and Enter do not close the window.
            for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_5}) {
                press(panel.get(), {key, {}, 0, nullptr});
            }
            QCOMPARE(panel->result(), 0);
            panel->Command(ids::kCmdStart);
            rig_.sim->instrument().ClearRecords();
        }
        // A stopped soft-key panel's keys are disabled; their PC keys still send.
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
        // A release whose press went to another window sends nothing; other windows keep theirs.
        QTest::keyRelease(panel.get(), Qt::Key_2);
        QDialog other(panel.get());
        other.show();
        QTest::keyClick(&other, Qt::Key_2);
        QCOMPARE(Sent(*panel), QStringList{soft ? "KEYP:CUS3" : "KEYP:ENTR"});
    }
    void touchesAndScreenMode_data() { AddKinds(); }
    // Touches become the instrument's pixels. Screen mode shows the picture alone; twice gives
    // the window back as it was; the next window opens in the stored mode.
    void touchesAndScreenMode() {
        QFETCH(bool, soft);
        auto panel = Make(soft, soft);
        const auto click = [&](QPoint p) { QTest::mouseClick(panel.get(), Qt::LeftButton, {}, p); };
        if (soft) {
            // At 70 %: touches only for a touch-screen model (the last connection's).
            auto& wren = static_cast<CRemoteDlgWren&>(*panel);
            QCOMPARE(wren.ModelKind(), 4);
            rig_.sim->instrument().SetModel("TQ381A");
            rig_.Live(*panel);
            const qv::ScreenRect r = panel->screenRect();
            click(QPoint(r.left + 100, r.top + 50));
            QCOMPARE(Sent(*panel), QStringList{});
            panel->Command(ids::kCmdStop);
            panel->Command(ids::kCmdDisconnect);
            QTRY_COMPARE(panel->view().PaneText(1), QStringLiteral("Disconnected"));
            rig_.sim->instrument().SetModel("QV392B");
            rig_.Live(*panel);
            QCOMPARE(wren.ModelKind(), 6);
            click(QPoint(r.left + 558, r.top + 10));
            click(QPoint(r.right, r.top + 10));  // the edge
            QCOMPARE(Sent(*panel), QStringList{"KEYP 797,14"});
        } else {
            rig_.Live(*panel);
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
        const QPoint corner = panel->pos();
        CScreenView& screen = panel->screen();
        const QSize picture = screen.size();
        const int shown = screen.framesShown();
        panel->Command(ids::kCmdScreenMode);
        QVERIFY(panel->ScreenMode());
        QCOMPARE(rig_.Stored(qv::kSetHideKeyBtn).toInt(), 1);
        const QRect status = panel->panelSession().statusBar()->geometry();
        QCOMPARE(screen.geometry(), QRect(QPoint(0, 0), picture));
        QCOMPARE(status, QRect(0, picture.height(), picture.width(), status.height()));
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
        QCOMPARE(rig_.Stored(qv::kSetHideKeyBtn).toInt(), 0);
        if (!soft) {
            QCOMPARE(panel->minimumSize(), CRemoteDlgRook::kMinClient);
            QCOMPARE(panel->maximumSize(), CRemoteDlgRook::kMaxClient);
        }
        panel->Command(ids::kCmdScreenMode);
        panel.reset();
        panel = rig_.Open(soft);
        QVERIFY(panel->ScreenMode());
        QCOMPARE(panel->screen().geometry().topLeft(), QPoint(0, 0));
    }
    void scaleRelaysOutAndStores() {
        auto panel = Make(true);
        const QPoint corner = panel->pos();
        const QSize full = panel->size();
        CSkinButton* esc = panel->Key(1013);
        panel->panelSession().Action(ids::kCmdScale70)->trigger();
        QCOMPARE(panel->scale(), 2);  // frames and touches follow
        QCOMPARE(rig_.Stored(qv::kSetScale).toInt(), 2);
        QCOMPARE(panel->size(), QSize(897, 557));
        QCOMPARE(panel->pos(), corner);
        QCOMPARE(esc->geometry(), QRect(631, 26, 41, 29));
        QCOMPARE(panel->Knob()->Center(), QPoint(61, 61));  // from the 70 % knob's frames
        QCOMPARE(panel->screen().geometry(), QRect(28, 27, 559, 419));
        panel->Command(ids::kCmdScale85);
        QCOMPARE(rig_.Stored(qv::kSetScale).toInt(), 1);
        // The pressed look of a held PC key is this scale's.
        QTest::keyPress(panel.get(), Qt::Key_Escape);
        QCOMPARE(esc->Image(CSkinButton::kNormal), qv::SkinImage(449));
        QTest::keyRelease(panel.get(), Qt::Key_Escape);
        QCOMPARE(esc->Image(CSkinButton::kNormal), qv::SkinImage(448));
        // The current scale once more: nothing is stored.
        QSettings(rig_.ini, QSettings::IniFormat).remove(QStringLiteral("Connection/Scale"));
        panel->Command(ids::kCmdScale85);
        QVERIFY(!rig_.Stored(qv::kSetScale).isValid());
        panel->Command(ids::kCmdScale100);
        QCOMPARE(rig_.Stored(qv::kSetScale).toInt(), 0);
        QCOMPARE(panel->size(), full);
        QCOMPARE(panel->pos(), corner);
    }
    // The hard-key panel keeps a stored scale for the other panel (out of range: 100 %) and is
    // drawn at its own size.
    void storedScaleKeptButHardKeyDrawnFull() {
        for (const auto& [stored, kept] : {std::pair{2, 2}, std::pair{5, 0}}) {
            QSettings(rig_.ini, QSettings::IniFormat).setValue("Connection/Scale", stored);
            auto panel = Make(false);
            QCOMPARE(rig_.Stored(qv::kSetScale).toInt(), kept);
            QCOMPARE(panel->scale(), 0);
            QCOMPARE(panel->size(), CRemoteDlgRook::kNormalClient);
            const QImage background = qv::SkinImage(243);
            const QImage shot = panel->grab().toImage();
            QCOMPARE(shot.pixelColor(1022, 678), background.pixelColor(1022, 678));
        }
    }
    void replayAndLiveExcludeEachOther() {
        const QString folder = rig_.dir.filePath("frames");
        QVERIFY(QDir().mkpath(folder) && qv::badjpeg::Screen(800, 600).save(folder + "/f.jpg"));
        auto panel = Make(true);
        auto* bar = qobject_cast<CReplayBar*>(static_cast<CRemoteDlgWren&>(*panel).replayBar());
        QVERIFY(bar != nullptr && bar->isHidden());
        const QSize size = panel->size();
        const QRect status = panel->panelSession().statusBar()->geometry();
        // The menu item shows the bar under the panel; the panel's own numbers stay.
        panel->Command(CRemoteDlgWren::kCmdReplay);
        QVERIFY(!bar->isHidden());
        QCOMPARE(panel->size(), size + QSize(0, bar->height()));
        QCOMPARE(bar->geometry().top(), size.height());
        QCOMPARE(panel->panelSession().statusBar()->geometry(), status);
        rig_.Live(*panel);
        bar->player().chooseFolder = [folder] { return folder.toStdString(); };
        bar->player().Open();
        bar->player().Play();
        // A replay takes the picture: remote control stops; starting it ends the replay.
        QVERIFY(!panel->session().Streaming());
        QCOMPARE(panel->view().PaneText(2), QStringLiteral("Remote Control Stopped"));
        QTRY_VERIFY(panel->screen().framesShown() > 0);
        panel->Command(qv::ids::kCmdStart);
        QVERIFY(!bar->player().playing());
        QVERIFY(panel->session().Streaming());
        panel->Command(CRemoteDlgWren::kCmdReplay);
        QVERIFY(bar->isHidden());
        QCOMPARE(panel->size(), size);
    }
    void aLostLinkHealsOrIsReported_data() { AddKinds(); }
    void aLostLinkHealsOrIsReported() {
        QFETCH(bool, soft);
        auto panel = Make(soft);
        rig_.Live(*panel);
        QTRY_VERIFY_WITH_TIMEOUT(panel->screen().framesShown() >= 1, 5000);
        const std::uint16_t port = rig_.sim->port();
        // Healing: the picture says so, keys and knob show disabled, Disconnect and Stop stay.
        rig_.sim->Stop();
        QTRY_VERIFY_WITH_TIMEOUT(
            panel->screen().Mark().startsWith(QStringLiteral("Link lost \u2014 reconnecting")),
            2000);
        QVERIFY(KeysEnabled(*panel, false));
        QCOMPARE(MenuStates(*panel, false).left(4), QStringLiteral("0101"));
        // Back on the same port: the picture is live again without a click.
        QVERIFY(rig_.sim->Start("127.0.0.1", port));
        QTRY_COMPARE_WITH_TIMEOUT(panel->view().PaneText(1), QStringLiteral("Connected"), 5000);
        const int shown = panel->screen().framesShown();
        QTRY_VERIFY_WITH_TIMEOUT(panel->screen().framesShown() > shown, 3000);
        QVERIFY(panel->screen().Mark().isEmpty());
        QVERIFY(KeysEnabled(*panel, true));
        // Without the self-healing link the loss is reported and the window stays as it is.
        panel->Command(ids::kCmdAutoReconnect);
        rig_.sim->Stop();
        QTRY_COMPARE_WITH_TIMEOUT(panel->view().PaneText(1), QStringLiteral("Disconnected"), 5000);
        QVERIFY(panel->isVisible());
        QVERIFY(!panel->engine().IsConnected());
    }
    void aPictureWithoutNewFramesSaysSo() {
        QImage frame(80, 60, QImage::Format_RGB32);
        frame.fill(Qt::darkCyan);
        CScreenView view(QSize(80, 60));
        view.show();
        view.PostFrame(frame);
        QTRY_COMPARE(view.framesShown(), 1);
        // Streaming: a picture ages after 3 s without a new frame, not before, and is dimmed.
        view.SetLive(true);
        QTest::qWait(2600);
        QVERIFY(view.Mark().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(view.Mark().startsWith(QStringLiteral("last frame 3 s ago")),
                                 1500);
        QVERIFY(view.grab().toImage().pixelColor(2, 2).value() < frame.pixelColor(2, 2).value());
        view.PostFrame(frame);
        QTRY_VERIFY(view.Mark().isEmpty());
        // The healing overlay wins over the age; a picture that is not streamed never ages.
        view.SetStaleAfter(100, 20);
        view.SetOverlay(QStringLiteral("Link lost \u2014 reconnecting (attempt 2)"));
        QTest::qWait(200);
        QCOMPARE(view.Mark(), QStringLiteral("Link lost \u2014 reconnecting (attempt 2)"));
        view.SetOverlay(QString());
        QTRY_VERIFY_WITH_TIMEOUT(!view.Mark().isEmpty(), 2000);
        view.SetLive(false);
        QVERIFY(view.Mark().isEmpty());
        QTest::qWait(200);
        QVERIFY(view.Mark().isEmpty());
    }
    // One streaming session meets each bad screen in turn: refused and logged, the last good
    // frame stays up, streaming goes on, the frame file is the session's alone.
    void badScreensKeepTheLastGoodFrame() {
        namespace bad = qv::badjpeg;
        const QString temp = rig_.dir.filePath("tmp");
        QVERIFY(QDir().mkpath(temp));
        qputenv("TMPDIR", temp.toLocal8Bit());
        QVERIFY(rig_.Reset(false));
        auto panel = Make(false);
        rig_.Live(*panel);
        CScreenView& screen = panel->screen();
        QTRY_VERIFY_WITH_TIMEOUT(screen.framesShown() >= 1, 5000);
        QCOMPARE(Refusals(), 0);
        int shown = -1;
        QImage last;
        for (const auto& [name, bytes] :
             {std::pair{"progressive bomb", bad::ProgressiveBomb(800, 480, 10000)},
              std::pair{"60000x60000 header", bad::HugeHeader(60000, 60000)},
              std::pair{"truncated", bad::Truncated(800, 480)},
              std::pair{"PNG", bad::Encode(bad::Screen(800, 480), "png")}}) {
            const int before = Refusals();
            rig_.sim->instrument().SetScreenOverride(
                std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
            // The exchange under way may still carry the screen before: from the second refusal
            // on, this one has been refused.
            QTRY_VERIFY2_WITH_TIMEOUT(Refusals() >= before + 2, name, 10000);
            QApplication::processEvents();
            if (shown < 0) {
                shown = screen.framesShown();
                last = screen.frame();
                QCOMPARE(last.size(), QSize(800, 480));
            }
            QVERIFY2(screen.framesShown() == shown && screen.frame() == last, name);
            QCOMPARE(panel->view().PaneText(1), QStringLiteral("Connected"));
        }
        rig_.sim->instrument().SetScreenOverride(std::nullopt);
        QTRY_VERIFY_WITH_TIMEOUT(screen.framesShown() > shown, 5000);
        const QStringList frames = QDir(temp).entryList(QDir::Files);
        QVERIFY(!frames.isEmpty());
        struct stat st {};
        QCOMPARE(::lstat(QFile::encodeName(QDir(temp).filePath(frames.last())).constData(), &st),
                 0);
        QCOMPARE(st.st_mode & 0777, 0600u);
    }
    // First use: what Communication confirms is shown, stored and used by Connect; the close
    // box changes nothing.
    void communicationOnFirstUse() {
        qv::SettingsStore store(rig_.dir.filePath("first.ini").toStdString());
        CRemoteDlgWren panel(store, nullptr, rig_.sim->port());
        panel.show();
        QCOMPARE(panel.view().PaneText(3), QStringLiteral("USB"));
        OnDialog<CDlgCommNew>([](CDlgCommNew& dlg) {
            dlg.findChild<QRadioButton*>(QStringLiteral("ctrl1104"))->click();
            TypeAddress(dlg.findChild<CIpAddressCtrl*>(QStringLiteral("ctrl1108")), "127.0.0.1");
        });
        panel.Command(ids::kCmdCommunication);
        QCOMPARE(panel.view().PaneText(3), QStringLiteral("TCP/IP : 127.0.0.1"));
        QCOMPARE(store.Load().method, 1);
        QCOMPARE(store.Load().ip, std::string("127.0.0.1"));
        panel.Command(ids::kCmdConnect);
        QTRY_COMPARE(panel.view().PaneText(1), QStringLiteral("Connected"));
        OnDialog<CDlgCommNew>([](CDlgCommNew& dlg) {
            dlg.findChild<QRadioButton*>(QStringLiteral("ctrl1106"))->click();
            dlg.close();
        });
        panel.Command(ids::kCmdCommunication);
        QCOMPARE(panel.view().PaneText(3), QStringLiteral("TCP/IP : 127.0.0.1"));
        QCOMPARE(store.Load().method, 1);
    }
    void ipAddressCommand_data() { AddKinds(); }
    // The IP address dialog opens with the session's address; Esc leaves everything as it was;
    // OK stores "IP" and shows it with the panel's prefix, the method stays.
    void ipAddressCommand() {
        QFETCH(bool, soft);
        rig_.store->StoreCommunication(1, "10.0.0.5", "::1");
        auto panel = Make(soft);
        OnDialog<CDlgIP>([](CDlgIP& dlg) {
            auto* ctrl = dlg.findChild<CIpAddressCtrl*>();
            QCOMPARE(ctrl->Field(3)->text(), QStringLiteral("5"));
            QTest::keyClick(ctrl->Field(0), Qt::Key_Escape);
        });
        panel->Command(ids::kCmdIpAddress);
        QCOMPARE(panel->view().PaneText(3), QStringLiteral("TCP/IP : 10.0.0.5"));
        OnDialog<CDlgIP>(
            [](CDlgIP& dlg) { TypeAddress(dlg.findChild<CIpAddressCtrl*>(), "192.168.1.20"); });
        panel->Command(ids::kCmdIpAddress);
        QCOMPARE(panel->view().PaneText(3),
                 (soft ? "TCP/IP : " : "IP : ") + QString("192.168.1.20"));
        QCOMPARE(rig_.store->Load().ip, std::string("192.168.1.20"));
        QCOMPARE(rig_.store->Load().method, 1);
    }

  private:
    // The panel on fresh settings, at 70 % if asked.
    std::unique_ptr<CPanelDlg> Make(bool soft, bool at70 = false) {
        return !at70 || rig_.store->StoreInt(qv::kSetScale, 2) == 1 ? rig_.Open(soft) : nullptr;
    }
    // Every command the instrument got since the last call, up to a marker sent now: what
    // was sent, and that nothing else was, without waiting for a quiet while.
    QStringList Sent(CPanelDlg& panel) {
        auto& sim = rig_.sim->instrument();
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
    // Connect, Disconnect, Start, Stop, High, Medium, Low, Screen mode, Communication: 1/0.
    static QString MenuStates(CPanelDlg& panel, bool checked) {
        panel.UpdateMenu();
        QString out;
        for (const int id : {ids::kCmdConnect, ids::kCmdDisconnect, ids::kCmdStart, ids::kCmdStop,
                             ids::kCmdQualityHigh, ids::kCmdQualityMedium, ids::kCmdQualityLow,
                             ids::kCmdScreenMode, ids::kCmdCommunication}) {
            const QAction* a = panel.panelSession().Action(id);
            out += a == nullptr ? '-' : (checked ? a->isChecked() : a->isEnabled()) ? '1' : '0';
        }
        return out;
    }
    // Keys and knob, and the look each key chose.
    static bool KeysEnabled(CPanelDlg& panel, bool expected) {
        for (int id = Keys(panel).first; id <= Keys(panel).second; ++id) {
            const CSkinButton* key = panel.Key(id);
            if (key->isEnabled() != expected ||
                (key->ChosenSlot() == CSkinButton::kDisabled) == expected) {
                return false;
            }
        }
        return panel.Knob()->isEnabled() == expected;
    }

    PanelRig rig_;
};

QTEST_MAIN(TestPanels)
#include "tst_panels.moc"
