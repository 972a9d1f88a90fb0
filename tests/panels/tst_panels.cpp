// Both front panels against the simulated instrument over real TCP: the wiring of a few keys
// and the knob, and what only a window has: keys and menu by state, held PC keys, focus,
// releases whose press went elsewhere, scale and screen mode, touches. The tables themselves
// are checked as data by panels_tables_test.
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QSettings>
#include <QStatusBar>
#include <QtTest>

#include "panels/CPanelSessionView.h"
#include "panels/CScreenView.h"
#include "panels/hardkey/CRemoteDlgRook.h"
#include "panels/softkey/CRemoteDlgWren.h"
#include "panels/softkey/CReplayBar.h"
#include "resources/ids.h"
#include "sim/SimServer.h"
#include "tests/panels/PanelRig.h"
#include "widgets/CKnobButton.h"
#include "widgets/CTqButton.h"
#include "widgets/SkinLibrary.h"

namespace ids = qv::ids;
using namespace std::chrono_literals;

enum class Kind { Hard, Soft };
Q_DECLARE_METATYPE(Kind)

namespace {

constexpr const char* kMarker = "TEST:MARK";

void AddKinds() {
    QTest::addColumn<Kind>("kind");
    QTest::newRow("hard-key") << Kind::Hard;
    QTest::newRow("soft-key") << Kind::Soft;
}

// A PC key as the user presses it, and what the panel does with it.
struct PcKey {
    Qt::Key key;
    Qt::KeyboardModifiers mods;
    int panelKey;         // 0: not a key of this panel
    const char* command;  // nullptr: nothing is sent
};

}  // namespace

class TestPanels : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { QVERIFY(rig_.Prepare()); }
    void cleanup() { rig_.Release(); }

    void clicksReachTheInstrument_data() { AddKinds(); }
    void clicksReachTheInstrument();
    void keysAndMenuFollowTheState_data() { AddKinds(); }
    void keysAndMenuFollowTheState();
    void pcKeys_data() { AddKinds(); }
    void pcKeys();
    void touchesAndScreenMode_data() { AddKinds(); }
    void touchesAndScreenMode();
    void screenModeTwiceRestores_data() { AddKinds(); }
    void screenModeTwiceRestores();
    void scaleRelaysOutAndStores();
    void storedScaleKeptButHardKeyDrawnFull();
    void qualityItemsSendAndStore();
    void statusTextsFitTheirPanes();
    void replayAndLiveExcludeEachOther();
    void aLostLinkHealsOrIsReported_data() { AddKinds(); }
    void aLostLinkHealsOrIsReported();

  private:
    // A fresh simulator and settings, then the panel.
    std::unique_ptr<CPanelDlg> Make(Kind kind);
    // The panel on the settings as they are.
    std::unique_ptr<CPanelDlg> Open(Kind kind);
    void Live(CPanelDlg& panel, bool start = true);
    // Every command the instrument got since the last call, up to a marker sent now: what
    // was sent, and that nothing else was, without waiting for a quiet while.
    QStringList Sent(CPanelDlg& panel);
    QVariant Stored(const char* name) const;
    // Menu items Connect, Disconnect, Start, Stop, High, Medium, Low, Screen mode,
    // Communication as 1 and 0.
    static QString MenuStates(CPanelDlg& panel, bool checked);

    PanelRig rig_;
};

std::unique_ptr<CPanelDlg> TestPanels::Make(Kind kind) {
    if (!rig_.Reset(800, kind == Kind::Hard ? 480 : 600)) {
        qWarning("no simulator");
    }
    return Open(kind);
}

std::unique_ptr<CPanelDlg> TestPanels::Open(Kind kind) {
    std::unique_ptr<CPanelDlg> panel;
    if (kind == Kind::Hard) {
        panel = std::make_unique<CRemoteDlgRook>(*rig_.store, nullptr, rig_.sim->port());
    } else {
        panel = std::make_unique<CRemoteDlgWren>(*rig_.store, nullptr, rig_.sim->port());
    }
    panel->session().SetCommandPause(0ms);
    panel->show();
    if (!QTest::qWaitForWindowExposed(panel.get())) {
        qWarning("panel not exposed");
    }
    return panel;
}

void TestPanels::Live(CPanelDlg& panel, bool start) {
    panel.Command(ids::kCmdConnect);
    QTRY_COMPARE(panel.view().PaneText(1), QStringLiteral("Connected"));
    if (start) {
        panel.Command(ids::kCmdStart);
        QCOMPARE(panel.view().PaneText(2), QStringLiteral("Remote Control Started"));
    }
    rig_.sim->instrument().ClearRecords();
}

QStringList TestPanels::Sent(CPanelDlg& panel) {
    auto& sim = rig_.sim->instrument();
    panel.SendKey(kMarker);
    for (std::size_t n = 1; sim.WaitForCommands(n, 3s); ++n) {
        const auto commands = sim.Commands();
        if (commands[n - 1].text == kMarker) {
            QStringList out;
            for (std::size_t i = 0; i + 1 < n; ++i) {
                out << QString::fromStdString(commands[i].text);
            }
            sim.ClearRecords();
            return out;
        }
    }
    return {QStringLiteral("(the marker never came)")};
}

QVariant TestPanels::Stored(const char* name) const {
    QSettings s(rig_.ini, QSettings::IniFormat);
    return s.value(QStringLiteral("Connection/") + QLatin1String(name));
}

QString TestPanels::MenuStates(CPanelDlg& panel, bool checked) {
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

void TestPanels::clicksReachTheInstrument() {
    QFETCH(Kind, kind);
    const bool hard = kind == Kind::Hard;
    auto panel = Make(kind);
    Live(*panel);
    const QList<int> keys = hard ? QList<int>{1079, 1095, 1084} : QList<int>{1017, 1037, 1044};
    for (const int id : keys) {
        QAbstractButton* key = panel->Key(id);
        QVERIFY(key != nullptr);
        QCOMPARE(key->objectName(), QStringLiteral("ctrl%1").arg(id));
        QTest::mouseClick(key, Qt::LeftButton, {}, key->rect().center());
    }
    // Grab the knob at the top and move to three o'clock: three steps clockwise, no release
    // needed on the way.
    CKnobButton* knob = panel->Knob();
    const QPoint c = knob->Center();
    QTest::mousePress(knob, Qt::LeftButton, {}, c - QPoint(0, 40));
    QTest::mouseMove(knob, c + QPoint(40, 0));
    QTest::mouseRelease(knob, Qt::LeftButton, {}, c + QPoint(40, 0));
    QCOMPARE(knob->Position(), 4);
    // The hard-key send path widens the knob's "KEYP:RIGH".
    const QString right = hard ? "KEYP:RIGHT" : "KEYP:RIGH";
    QStringList expected = hard ? QStringList{"KEYP:MARK", "KEYP:JUM", "KEYP:AUTO"}
                                : QStringList{"KEYP:CUS4", "KEYP:NUM9", "KEYP:RIGH"};
    expected << right << right << right;
    if (!hard) {
        // The hidden keyboard button has no key or menu item; its command message sends.
        auto* button = panel->findChild<QAbstractButton*>(QStringLiteral("ctrl1109"));
        QVERIFY(button != nullptr && !button->isVisible());
        button->click();
        expected << "SAVE:KEYP:STRS [QVRemote]";
    }
    QCOMPARE(Sent(*panel), expected);
}

void TestPanels::keysAndMenuFollowTheState() {
    QFETCH(Kind, kind);
    auto panel = Make(kind);
    QCOMPARE(panel->windowTitle(), QStringLiteral("QVRemote 2.1"));
    const auto keysEnabled = [&](bool expected) {
        const int first = kind == Kind::Hard ? ids::kHardKeyFirst : ids::kSoftKeyFirst;
        const int last = kind == Kind::Hard ? ids::kHardKeyLast : ids::kSoftKeyLast;
        for (int id = first; id <= last; ++id) {
            const CSkinButton* key = panel->Key(id);
            if (key->isEnabled() != expected ||
                (key->ChosenSlot() == CSkinButton::kDisabled) == expected) {
                return false;
            }
        }
        return panel->Knob()->isEnabled() == expected;
    };
    QVERIFY(keysEnabled(false));
    QCOMPARE(MenuStates(*panel, false), QStringLiteral("100000011"));
    QCOMPARE(MenuStates(*panel, true), QStringLiteral("010110000"));
    // The scale items are the soft-key panel's, 100 % checked.
    const QAction* scale100 = panel->panelSession().Action(ids::kCmdScale100);
    QCOMPARE(scale100 != nullptr, kind == Kind::Soft);
    QVERIFY(scale100 == nullptr || scale100->isChecked());

    // Connecting alone enables no key; a click on one sends nothing.
    Live(*panel, false);
    QVERIFY(keysEnabled(false));
    QTest::mouseClick(panel->Key(kind == Kind::Hard ? ids::kHardKeyFirst : ids::kSoftKeyFirst),
                      Qt::LeftButton);
    QCOMPARE(Sent(*panel), QStringList{});
    QCOMPARE(MenuStates(*panel, false), QStringLiteral("011011111"));
    QCOMPARE(MenuStates(*panel, true), QStringLiteral("100110000"));

    panel->Command(ids::kCmdStart);
    QVERIFY(keysEnabled(true));
    QCOMPARE(MenuStates(*panel, false), QStringLiteral("000111111"));
    QCOMPARE(MenuStates(*panel, true), QStringLiteral("101010000"));
    panel->Command(ids::kCmdScreenMode);
    QCOMPARE(MenuStates(*panel, true), QStringLiteral("101010010"));
    panel->Command(ids::kCmdScreenMode);

    panel->Command(ids::kCmdStop);
    QVERIFY(keysEnabled(false));
    QCOMPARE(MenuStates(*panel, true), QStringLiteral("100110000"));
}

void TestPanels::pcKeys() {
    QFETCH(Kind, kind);
    const bool hard = kind == Kind::Hard;
    auto panel = Make(kind);
    Live(*panel, false);
    const Qt::KeyboardModifiers pad = Qt::KeypadModifier;
    const auto press = [&](QWidget* target, const PcKey& k) {
        CSkinButton* button = panel->Key(k.panelKey);
        QTest::keyPress(target, k.key, k.mods);
        if (button != nullptr) {
            QCOMPARE(button->Image(CSkinButton::kNormal),
                     button->Image(CSkinButton::kPressed));  // the pressed look
        }
        QTest::keyRelease(target, k.key, k.mods);
        if (button != nullptr) {
            QVERIFY(button->Image(CSkinButton::kNormal) != button->Image(CSkinButton::kPressed));
        }
        QCOMPARE(Sent(*panel), k.command ? QStringList{k.command} : QStringList{});
        QVERIFY(panel->isVisible());  // Esc and Enter are keys here, never dialog actions
    };
    if (hard) {
        // Stopped: the keyboard works nothing; Esc and Enter do not close the window.
        for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_5}) {
            press(panel.get(), {key, {}, 0, nullptr});
        }
        QCOMPARE(panel->result(), 0);
        panel->Command(ids::kCmdStart);
        rig_.sim->instrument().ClearRecords();
    }
    // Stopped soft-key panel: the keys are disabled, their PC keys still send.
    const QList<PcKey> keys = hard ? QList<PcKey>{{Qt::Key_5, {}, 1089, "KEYP:NUM5"},
                                                  {Qt::Key_Period, pad, 1095, "KEYP:JUM"},
                                                  {Qt::Key_Backspace, {}, 1098, "KEYP:BUHO"},
                                                  {Qt::Key_Escape, {}, 1096, "KEYP:ESC"},
                                                  {Qt::Key_Left, {}, 0, nullptr}}
                                   : QList<PcKey>{{Qt::Key_F3, {}, 1016, "KEYP:CUS3"},
                                                  {Qt::Key_7, pad, 1035, "KEYP:NUM7"},
                                                  {Qt::Key_Delete, {}, 1041, "KEYP:DEL"},
                                                  {Qt::Key_Escape, {}, 1013, "KEYP:ESC"},
                                                  {Qt::Key_Period, {}, 0, nullptr}};
    for (const PcKey& k : keys) {
        press(panel.get(), k);
    }
    // Keys reach the panel through whichever of its controls has the focus.
    press(panel->Key(hard ? 1079 : 1014), keys.front());

    // A held key repeats as release and press pairs; one command, on the real release.
    const Qt::Key held = hard ? Qt::Key_Return : Qt::Key_F3;
    QTest::keyPress(panel.get(), held);
    for (int i = 0; i < 10; ++i) {
        QKeyEvent up(QEvent::KeyRelease, held, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(panel.get(), &up);
        QKeyEvent down(QEvent::KeyPress, held, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(panel.get(), &down);
    }
    QTest::keyRelease(panel.get(), held);
    // A release whose press went to another window (Enter on a message box) sends nothing,
    // and another window's keys stay its own.
    QTest::keyRelease(panel.get(), Qt::Key_2);
    QDialog other(panel.get());
    other.show();
    QTest::keyClick(&other, Qt::Key_2);
    QCOMPARE(Sent(*panel), QStringList{hard ? "KEYP:ENTR" : "KEYP:CUS3"});
}

void TestPanels::touchesAndScreenMode() {
    QFETCH(Kind, kind);
    QVERIFY(rig_.Reset(800, kind == Kind::Hard ? 480 : 600));
    if (kind == Kind::Soft) {
        QVERIFY(rig_.store->StoreInt(qv::kSetScale, 2) == 1);
    }
    auto panel = Open(kind);
    if (kind == Kind::Hard) {
        Live(*panel);
        // Unscaled offsets from the picture's corner; its right edge is outside.
        for (const QPoint p :
             {QPoint(211, 75), QPoint(111, 25), QPoint(910, 504), QPoint(911, 100)}) {
            QTest::mouseClick(panel.get(), Qt::LeftButton, {}, p);
        }
        QCOMPARE(Sent(*panel), (QStringList{"KEYP 100,50", "KEYP 0,0", "KEYP 799,479"}));
        // Screen mode: the picture at the corner, frames keep coming at their size.
        CScreenView& screen = panel->screen();
        const int shown = screen.framesShown();
        panel->Command(ids::kCmdScreenMode);
        QCOMPARE(screen.geometry(), QRect(0, 0, 800, 480));
        QTRY_VERIFY_WITH_TIMEOUT(screen.framesShown() > shown, 5000);
        QCOMPARE(screen.frame().size(), QSize(800, 480));
        QTest::mouseClick(panel.get(), Qt::LeftButton, {}, QPoint(100, 50));
        QTest::mouseClick(panel.get(), Qt::LeftButton, {}, QPoint(100, 490));  // status bar
        QCOMPARE(Sent(*panel), QStringList{"KEYP 100,50"});
        panel->Command(ids::kCmdStop);
        QTest::mouseClick(panel.get(), Qt::LeftButton, {}, QPoint(100, 50));
        QCOMPARE(Sent(*panel), QStringList{});
        return;
    }
    // Soft-key panel at 70 %: touches only for a touch-screen model, scaled back to the
    // instrument's pixels. The kind is the last connection's.
    auto& wren = static_cast<CRemoteDlgWren&>(*panel);
    QCOMPARE(wren.ModelKind(), 4);
    rig_.sim->instrument().SetModel("TQ381A");
    Live(*panel);
    const qv::ScreenRect r = panel->screenRect();
    QCOMPARE(QRect(r.left, r.top, r.width(), r.height()), QRect(28, 27, 559, 419));
    QTest::mouseClick(panel.get(), Qt::LeftButton, {}, QPoint(r.left + 100, r.top + 50));
    QCOMPARE(Sent(*panel), QStringList{});
    panel->Command(ids::kCmdStop);
    panel->Command(ids::kCmdDisconnect);
    QTRY_COMPARE(panel->view().PaneText(1), QStringLiteral("Disconnected"));
    rig_.sim->instrument().SetModel("QV392B");
    Live(*panel);
    QCOMPARE(wren.ModelKind(), 6);
    QTest::mouseClick(panel.get(), Qt::LeftButton, {}, QPoint(r.left + 558, r.top + 10));
    QTest::mouseClick(panel.get(), Qt::LeftButton, {}, QPoint(r.right, r.top + 10));  // edge
    QCOMPARE(Sent(*panel), QStringList{"KEYP 797,14"});
}

void TestPanels::screenModeTwiceRestores() {
    QFETCH(Kind, kind);
    const bool hard = kind == Kind::Hard;
    if (!hard) {
        QVERIFY(rig_.Reset());
        QVERIFY(rig_.store->StoreInt(qv::kSetScale, 2) == 1);
    }
    auto panel = hard ? Make(kind) : Open(kind);
    const auto snapshot = [&] {
        QString keys;
        const int first = hard ? ids::kHardKeyFirst : ids::kSoftKeyFirst;
        const int last = hard ? ids::kHardKeyLast : ids::kSoftKeyLast;
        for (int id = first; id <= last; ++id) {
            const QWidget* key = panel->Key(id);
            // Shown and inside the window: 1.
            keys += key->isVisible() && panel->rect().intersects(key->geometry()) ? '1' : '0';
        }
        const qv::ScreenRect r = panel->screenRect();
        return QStringLiteral("%1x%2 (%3,%4)-(%5,%6) %7")
            .arg(panel->width())
            .arg(panel->height())
            .arg(r.left)
            .arg(r.top)
            .arg(r.right)
            .arg(r.bottom)
            .arg(keys);
    };
    const QString normal = snapshot();
    const QPoint corner = panel->pos();
    panel->Command(ids::kCmdScreenMode);
    QVERIFY(panel->ScreenMode());
    QCOMPARE(Stored(qv::kSetHideKeyBtn).toInt(), 1);
    const QRect statusBar = panel->panelSession().statusBar()->geometry();
    if (hard) {
        //                           keys 1073..1100
        QCOMPARE(normal,
                 QStringLiteral("1023x699 (111,25)-(911,505) 1111111111111111111111111111"));
        QCOMPARE(snapshot(),
                 QStringLiteral("800x500 (0,0)-(800,480) 0000000000000000000000000000"));
        QCOMPARE(statusBar, QRect(0, 480, 800, 20));
        // The eleven keys over the smaller window are hidden; the rest lie outside it.
        QVERIFY(panel->Key(1073)->isHidden() && panel->Key(1096)->isHidden());
        QVERIFY(!panel->Key(1079)->isHidden() && !panel->Key(1100)->isHidden());
        QCOMPARE(panel->minimumSize(), QSize(800, 500));
    } else {
        QCOMPARE(normal,
                 QStringLiteral("897x557 (28,27)-(587,446) 1111111111111111111111111111111111"));
        QCOMPARE(snapshot(),
                 QStringLiteral("559x439 (0,0)-(559,419) 0000000000000000000000000000000000"));
        QCOMPARE(statusBar, QRect(0, 419, 559, 20));
        QVERIFY(!panel->rect().intersects(panel->Knob()->geometry()));
    }
    QCOMPARE(panel->screen().geometry().topLeft(), QPoint(0, 0));
    panel->Command(ids::kCmdScreenMode);
    QCOMPARE(snapshot(), normal);
    QCOMPARE(panel->pos(), corner);
    QCOMPARE(Stored(qv::kSetHideKeyBtn).toInt(), 0);
    if (hard) {
        QCOMPARE(panel->minimumSize(), CRemoteDlgRook::kMinClient);
        QCOMPARE(panel->maximumSize(), CRemoteDlgRook::kMaxClient);
    }
    // The stored mode is the one the next window opens in.
    panel->Command(ids::kCmdScreenMode);
    panel.reset();
    panel = Open(kind);
    QVERIFY(panel->ScreenMode());
    QCOMPARE(panel->screen().geometry().topLeft(), QPoint(0, 0));
}

void TestPanels::scaleRelaysOutAndStores() {
    auto panel = Make(Kind::Soft);
    auto& wren = static_cast<CRemoteDlgWren&>(*panel);
    const QPoint corner = panel->pos();
    CSkinButton* esc = panel->Key(1013);
    // Through the menu's own item.
    panel->panelSession().Action(ids::kCmdScale70)->trigger();
    QCOMPARE(wren.layout().scale(), 2);
    QCOMPARE(panel->scale(), 2);  // frames and touches follow
    QCOMPARE(Stored(qv::kSetScale).toInt(), 2);
    QCOMPARE(panel->size(), QSize(897, 557));
    QCOMPARE(panel->pos(), corner);
    QCOMPARE(esc->geometry(), QRect(631, 26, 41, 29));
    QCOMPARE(esc->Image(CSkinButton::kNormal), qv::SkinImage(349));
    QCOMPARE(panel->Knob()->Center(), QPoint(61, 61));
    QCOMPARE(panel->Knob()->ImageIds()[0], 431);
    QCOMPARE(panel->screen().geometry(), QRect(28, 27, 559, 419));
    QCOMPARE(panel->panelSession().statusBar()->geometry(), QRect(0, 537, 897, 20));
    QVERIFY(panel->panelSession().Action(ids::kCmdScale70)->isChecked());

    panel->Command(ids::kCmdScale85);
    QCOMPARE(Stored(qv::kSetScale).toInt(), 1);
    QCOMPARE(esc->geometry(), QRect(766, 32, 50, 35));
    // The pressed look of a held PC key is this scale's.
    QTest::keyPress(panel.get(), Qt::Key_Escape);
    QCOMPARE(esc->Image(CSkinButton::kNormal), qv::SkinImage(449));
    QTest::keyRelease(panel.get(), Qt::Key_Escape);
    QCOMPARE(esc->Image(CSkinButton::kNormal), qv::SkinImage(448));
    QCOMPARE(esc->Image(CSkinButton::kDisabled), qv::SkinImage(450));
    // The current scale once more: nothing is stored.
    QSettings(rig_.ini, QSettings::IniFormat).remove(QStringLiteral("Connection/Scale"));
    panel->Command(ids::kCmdScale85);
    QVERIFY(!Stored(qv::kSetScale).isValid());

    panel->Command(ids::kCmdScale100);
    QCOMPARE(Stored(qv::kSetScale).toInt(), 0);
    QCOMPARE(panel->size(), QSize(1282, 787));
    QCOMPARE(panel->pos(), corner);
}

void TestPanels::storedScaleKeptButHardKeyDrawnFull() {
    QVERIFY(rig_.Reset(800, 480));
    for (const auto& [stored, kept] : {std::pair{2, 2}, std::pair{5, 0}}) {
        QSettings(rig_.ini, QSettings::IniFormat).setValue("Connection/Scale", stored);
        auto panel = Open(Kind::Hard);
        QCOMPARE(Stored(qv::kSetScale).toInt(), kept);
        QCOMPARE(panel->scale(), 0);
        QCOMPARE(panel->size(), CRemoteDlgRook::kNormalClient);
        QCOMPARE(panel->Key(1084)->pos(), QPoint(935, 435));
        // The background is painted at its own size: its corner pixels are the image's.
        const QImage background = qv::SkinImage(243);
        const QImage shot = panel->grab().toImage();
        QCOMPARE(shot.pixelColor(1022, 678), background.pixelColor(1022, 678));
        QCOMPARE(shot.pixelColor(5, 5), background.pixelColor(5, 5));
    }
}

void TestPanels::qualityItemsSendAndStore() {
    auto panel = Make(Kind::Soft);
    Live(*panel, false);
    const std::tuple<int, const char*, int> items[] = {
        {ids::kCmdQualityMedium, "KEYP:QUAL:NORM", 1},
        {ids::kCmdQualityHigh, "KEYP:QUAL:HIGH", 0},
        {ids::kCmdQualityLow, "KEYP:QUAL:LOW", 2},
    };
    for (const auto& [id, command, stored] : items) {
        panel->Command(id);
        QCOMPARE(Sent(*panel), QStringList{command});
        QCOMPARE(Stored(qv::kSetQuality).toInt(), stored);
    }
    // Start repeats the chosen quality.
    panel->Command(ids::kCmdStart);
    QCOMPARE(Sent(*panel), QStringList{"KEYP:QUAL:LOW"});
}

void TestPanels::statusTextsFitTheirPanes() {
    // A desktop with a large font: the fixed-width panes still show their texts whole.
    const QFont before = QApplication::font();
    QFont large = before;
    large.setPointSize(14);
    QApplication::setFont(large);
    auto panel = Make(Kind::Soft);
    auto* pane = panel->panelSession().statusBar()->findChild<QLabel*>(QStringLiteral("pane2"));
    QVERIFY(pane != nullptr);
    QTRY_VERIFY(pane->isVisible());
    for (const char* text : {"Remote Control Stopped", "Remote Control Started"}) {
        QVERIFY2(pane->fontMetrics().horizontalAdvance(QString::fromLatin1(text)) <=
                     pane->contentsRect().width(),
                 text);
    }
    QApplication::setFont(before);
}

void TestPanels::replayAndLiveExcludeEachOther() {
    const QString folder = rig_.dir.filePath("frames");
    QVERIFY(QDir().mkpath(folder));
    for (int i = 0; i < 3; ++i) {
        QImage frame(800, 600, QImage::Format_RGB32);
        frame.fill(QColor(40 * i, 80, 120));
        QVERIFY(frame.save(QDir(folder).filePath(QStringLiteral("f%1.jpg").arg(i))));
    }
    auto panel = Make(Kind::Soft);
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

    Live(*panel);
    bar->player().chooseFolder = [folder] { return folder.toStdString(); };
    bar->player().Open();
    QCOMPARE(bar->player().frames().size(), std::size_t{3});
    bar->player().Play();
    // A replay takes the picture: remote control stops.
    QVERIFY(!panel->session().Streaming());
    QCOMPARE(panel->view().PaneText(2), QStringLiteral("Remote Control Stopped"));
    QTRY_VERIFY(panel->screen().framesShown() > 0);
    // Starting remote control ends the replay.
    panel->Command(qv::ids::kCmdStart);
    QVERIFY(!bar->player().playing());
    QVERIFY(panel->session().Streaming());

    panel->Command(CRemoteDlgWren::kCmdReplay);
    QVERIFY(bar->isHidden());
    QCOMPARE(panel->size(), size);
}

void TestPanels::aLostLinkHealsOrIsReported() {
    QFETCH(Kind, kind);
    auto panel = Make(kind);
    Live(*panel);
    QTRY_VERIFY_WITH_TIMEOUT(panel->screen().framesShown() >= 1, 5000);
    const int keyId = kind == Kind::Hard ? ids::kHardKeyFirst : ids::kSoftKeyFirst;
    const std::uint16_t port = rig_.sim->port();
    // Healing: the picture says so, keys and knob show disabled, Disconnect and Stop stay.
    rig_.sim->Stop();
    QTRY_VERIFY_WITH_TIMEOUT(
        panel->screen().Mark().startsWith(QStringLiteral("Link lost \u2014 reconnecting")), 2000);
    QVERIFY(!panel->Key(keyId)->isEnabled());
    QVERIFY(!panel->Knob()->isEnabled());
    QCOMPARE(MenuStates(*panel, false).left(4), QStringLiteral("0101"));
    // Back on the same port: the picture is live again without a click.
    QVERIFY(rig_.sim->Start("127.0.0.1", port));
    QTRY_COMPARE_WITH_TIMEOUT(panel->view().PaneText(1), QStringLiteral("Connected"), 5000);
    const int shown = panel->screen().framesShown();
    QTRY_VERIFY_WITH_TIMEOUT(panel->screen().framesShown() > shown, 3000);
    QVERIFY(panel->screen().Mark().isEmpty());
    QVERIFY(panel->Key(keyId)->isEnabled());
    // Without the self-healing link the loss is reported and the window stays as it is.
    panel->Command(ids::kCmdAutoReconnect);
    rig_.sim->Stop();
    QTRY_COMPARE_WITH_TIMEOUT(panel->view().PaneText(1), QStringLiteral("Disconnected"), 5000);
    QVERIFY(panel->isVisible());
    QVERIFY(!panel->engine().IsConnected());
}

QTEST_MAIN(TestPanels)
#include "tst_panels.moc"
