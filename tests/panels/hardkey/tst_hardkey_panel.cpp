// The hard-key panel window against the simulated instrument over a real TCP link.
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "panels/CPanelSessionView.h"
#include "panels/CScreenView.h"
#include "panels/hardkey/CRemoteDlgRook.h"
#include "panels/hardkey/HardKeyTable.h"
#include "resources/ids.h"
#include "sim/SimServer.h"
#include "tests/panels/PanelRig.h"
#include "widgets/CKnobButton.h"
#include "widgets/CTqButton.h"
#include "widgets/SkinCatalogue.h"
#include "widgets/SkinLibrary.h"

namespace ids = qv::ids;
using qv::ScanCodes;

namespace {

const qv::skin::KeySkin& SkinRow(int id) {
    for (const auto& k : qv::skin::kHardKeys) {
        if (k.controlId == id) {
            return k;
        }
    }
    qFatal("no skin row for %d", id);
}

}  // namespace

class TestHardKeyPanel : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void init();
    void cleanup();

    void keyboardMap_data();
    void keyboardMap();
    void everyKeySendsItsCommand_data();
    void everyKeySendsItsCommand();
    void keysFollowRemoteControl();
    void knobTurnsFromItsCentre();
    void pcKeySendsOnRelease_data();
    void pcKeySendsOnRelease();
    void heldPcKeySendsOnce();
    void unmappedAndStoppedKeysSendNothing();
    void menuFollowsTheState_data();
    void menuFollowsTheState();
    void screenModeTwiceRestores();
    void screenModeKeepsFramesComing();
    void storedScaleKeptButDrawnFull_data();
    void storedScaleKeptButDrawnFull();
    void touch_data();
    void touch();
    void keyWhileTheLinkDrops();

  private:
    std::unique_ptr<CRemoteDlgRook> MakePanel();
    void StartRemote(CRemoteDlgRook& panel);
    std::size_t CommandCount() const { return rig_.sim->instrument().Commands().size(); }
    // Nothing reaches the instrument within a short while.
    void ExpectNoCommandSince(std::size_t before);

    PanelRig rig_;
};

void TestHardKeyPanel::initTestCase() {
    QVERIFY(rig_.Prepare());
}

void TestHardKeyPanel::init() {
    QVERIFY(rig_.Reset(800, 480));
}

void TestHardKeyPanel::cleanup() {
    rig_.Release();
}

std::unique_ptr<CRemoteDlgRook> TestHardKeyPanel::MakePanel() {
    auto panel = std::make_unique<CRemoteDlgRook>(*rig_.store, nullptr, rig_.sim->port());
    panel->session().SetCommandPause(std::chrono::milliseconds(0));
    panel->show();
    if (!QTest::qWaitForWindowExposed(panel.get())) {
        qWarning("panel not exposed");
    }
    return panel;
}

void TestHardKeyPanel::StartRemote(CRemoteDlgRook& panel) {
    panel.Command(ids::kCmdConnect);
    QTRY_COMPARE(panel.view().PaneText(1), QStringLiteral("Connected"));
    panel.Command(ids::kCmdStart);
    QCOMPARE(panel.view().PaneText(2), QStringLiteral("Remote Control Started"));
    QApplication::processEvents();
}

void TestHardKeyPanel::ExpectNoCommandSince(std::size_t before) {
    QTest::qWait(150);
    QCOMPARE(CommandCount(), before);
}

void TestHardKeyPanel::keyboardMap_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("scanCode");
    QTest::addColumn<int>("scanCodes");
    QTest::addColumn<int>("control");

    const int none = int(ScanCodes::None);
    const int x11 = int(ScanCodes::X11);
    const int win = int(ScanCodes::Windows);
    const int kp = Qt::KeypadModifier;
    QTest::newRow("0") << int(Qt::Key_0) << 0 << 0 << none << 1094;
    QTest::newRow("9 keypad") << int(Qt::Key_9) << kp << 0 << none << 1093;
    QTest::newRow("ctrl 1") << int(Qt::Key_1) << int(Qt::ControlModifier) << 0 << none << 1085;
    QTest::newRow("alt 1") << int(Qt::Key_1) << int(Qt::AltModifier) << 0 << none << 0;
    QTest::newRow("keypad point, num lock off") << int(Qt::Key_Delete) << kp << 0 << none << 1098;
    QTest::newRow("keypad comma") << int(Qt::Key_Comma) << kp << 0 << none << 1095;
    QTest::newRow("keypad enter") << int(Qt::Key_Enter) << kp << 0 << none << 1097;
    // Shift+1 types "!" but is still the "1" key.
    const int shift = Qt::ShiftModifier;
    QTest::newRow("shift 1 x11") << int(Qt::Key_Exclam) << shift << 10 << x11 << 1085;
    QTest::newRow("shift 0 x11") << int(Qt::Key_ParenRight) << shift << 19 << x11 << 1094;
    QTest::newRow("shift 1 windows") << int(Qt::Key_Exclam) << shift << 0x02 << win << 1085;
    QTest::newRow("shift 1 unknown codes") << int(Qt::Key_Exclam) << shift << 10 << none << 0;
    QTest::newRow("x11 key before the row") << int(Qt::Key_Exclam) << shift << 9 << x11 << 0;
    QTest::newRow("alt shift 1") << int(Qt::Key_Exclam) << (shift | int(Qt::AltModifier)) << 10
                                 << x11 << 0;
}

void TestHardKeyPanel::keyboardMap() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(int, scanCode);
    QFETCH(int, scanCodes);
    QFETCH(int, control);
    QCOMPARE(qv::MapKey(qv::hardkey::kKeyboard, key, Qt::KeyboardModifiers(modifiers),
                        static_cast<std::uint32_t>(scanCode), static_cast<ScanCodes>(scanCodes)),
             control);
}

void TestHardKeyPanel::everyKeySendsItsCommand_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("command");
    const std::pair<int, const char*> rows[] = {
        {1073, "KEYP:MODE"},  {1074, "KEYP:SETUP"}, {1075, "KEYP:FAV"},  {1076, "KEYP:QSAVE"},
        {1077, "KEYP:SL"},    {1078, "KEYP:CAL"},   {1079, "KEYP:MARK"}, {1080, "KEYP:PEAK"},
        {1081, "KEYP:TRACE"}, {1082, "KEYP:LIMIT"}, {1083, "KEYP:HOLD"}, {1084, "KEYP:AUTO"},
        {1085, "KEYP:NUM1"},  {1086, "KEYP:NUM2"},  {1087, "KEYP:NUM3"}, {1088, "KEYP:NUM4"},
        {1089, "KEYP:NUM5"},  {1090, "KEYP:NUM6"},  {1091, "KEYP:NUM7"}, {1092, "KEYP:NUM8"},
        {1093, "KEYP:NUM9"},  {1094, "KEYP:NUM0"},  {1095, "KEYP:JUM"},  {1096, "KEYP:ESC"},
        {1097, "KEYP:ENTR"},  {1098, "KEYP:BUHO"},  {1099, "KEYP:UP"},   {1100, "KEYP:DOWN"},
    };
    for (const auto& [id, command] : rows) {
        QTest::newRow(command) << id << QString::fromLatin1(command);
    }
}

void TestHardKeyPanel::everyKeySendsItsCommand() {
    QFETCH(int, id);
    QFETCH(QString, command);
    auto panel = MakePanel();
    StartRemote(*panel);
    auto* key = static_cast<CTqButton*>(panel->Key(id));
    QVERIFY(key);
    QCOMPARE(key->objectName(), QStringLiteral("ctrl%1").arg(id));
    // Drawn once: the key has its image's size, whatever the layout gave it.
    const auto& row = SkinRow(id);
    QTRY_COMPARE(key->size(), QSize(row.sets[0].width, row.sets[0].height));
    QCOMPARE(key->pos(), QPoint(row.x, row.y));

    const std::size_t before = CommandCount();
    QTest::mouseClick(key, Qt::LeftButton, {}, key->rect().center());
    QVERIFY(rig_.sim->instrument().WaitForCommands(before + 1, std::chrono::seconds(2)));
    QCOMPARE(QString::fromStdString(rig_.sim->instrument().LastCommand()), command);
    ExpectNoCommandSince(before + 1);
}

void TestHardKeyPanel::keysFollowRemoteControl() {
    auto panel = MakePanel();
    const auto allEnabled = [&](bool expected) {
        for (int id = ids::kHardKeyFirst; id <= ids::kHardKeyLast; ++id) {
            if (panel->Key(id)->isEnabled() != expected) {
                return false;
            }
        }
        return panel->Knob()->isEnabled() == expected;
    };
    QVERIFY(allEnabled(false));
    auto* mode = static_cast<CTqButton*>(panel->Key(1073));
    QCOMPARE(mode->ChosenSlot(), int(CTqButton::kDisabled));
    // A disabled key sends nothing.
    QTest::mouseClick(mode, Qt::LeftButton, {}, mode->rect().center());
    panel->Command(ids::kCmdConnect);
    QTRY_COMPARE(panel->view().PaneText(1), QStringLiteral("Connected"));
    QVERIFY(allEnabled(false));
    QTest::mouseClick(mode, Qt::LeftButton, {}, mode->rect().center());
    ExpectNoCommandSince(0);

    for (const bool screenMode : {false, true}) {
        if (panel->ScreenMode() != screenMode) {
            panel->Command(ids::kCmdScreenMode);
        }
        panel->Command(ids::kCmdStart);
        QVERIFY(allEnabled(true));
        panel->Command(ids::kCmdStop);
        QVERIFY(allEnabled(false));
    }
    QVERIFY(panel->Key(1073)->isHidden());
    ExpectNoCommandSince(0);
}

void TestHardKeyPanel::knobTurnsFromItsCentre() {
    auto panel = MakePanel();
    StartRemote(*panel);
    CKnobButton* knob = panel->Knob();
    QCOMPARE(knob->objectName(), QStringLiteral("ctrl1101"));
    QCOMPARE(knob->geometry(), QRect(787, 530, 140, 140));
    QCOMPARE(knob->Center(), QPoint(70, 70));
    const std::size_t before = CommandCount();
    QTest::mousePress(knob, Qt::LeftButton, {}, QPoint(70, 10));
    QTest::mouseMove(knob, QPoint(130, 70));  // 3 o'clock: three steps clockwise
    QTest::mouseRelease(knob, Qt::LeftButton, {}, QPoint(130, 70));
    QVERIFY(rig_.sim->instrument().WaitForCommands(before + 3, std::chrono::seconds(2)));
    const auto commands = rig_.sim->instrument().Commands();
    QCOMPARE(commands.size(), before + 3);
    for (std::size_t i = before; i < commands.size(); ++i) {
        QCOMPARE(QString::fromStdString(commands[i].text), QStringLiteral("KEYP:RIGHT"));
    }
    QCOMPARE(knob->Position(), 4);
}

void TestHardKeyPanel::pcKeySendsOnRelease_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("command");
    QTest::newRow("5") << int(Qt::Key_5) << 0 << 1089 << "KEYP:NUM5";
    QTest::newRow("keypad 5") << int(Qt::Key_5) << int(Qt::KeypadModifier) << 1089 << "KEYP:NUM5";
    QTest::newRow("keypad point") << int(Qt::Key_Period) << int(Qt::KeypadModifier) << 1095
                                  << "KEYP:JUM";
    QTest::newRow("backspace") << int(Qt::Key_Backspace) << 0 << 1098 << "KEYP:BUHO";
    QTest::newRow("delete") << int(Qt::Key_Delete) << 0 << 1098 << "KEYP:BUHO";
    QTest::newRow("enter") << int(Qt::Key_Return) << 0 << 1097 << "KEYP:ENTR";
    QTest::newRow("esc") << int(Qt::Key_Escape) << 0 << 1096 << "KEYP:ESC";
    QTest::newRow("up") << int(Qt::Key_Up) << 0 << 1099 << "KEYP:UP";
    QTest::newRow("down") << int(Qt::Key_Down) << 0 << 1100 << "KEYP:DOWN";
}

void TestHardKeyPanel::pcKeySendsOnRelease() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(int, id);
    QFETCH(QString, command);
    auto panel = MakePanel();
    StartRemote(*panel);
    const auto& row = SkinRow(id);
    const QImage normal = qv::SkinImage(row.sets[0].ids[0]);
    const QImage pressed = qv::SkinImage(row.sets[0].ids[1]);
    QVERIFY(normal != pressed);
    auto* button = static_cast<CTqButton*>(panel->Key(id));
    const auto shown = [button] { return button->Image(button->ChosenSlot()); };
    QCOMPARE(shown(), normal);

    const std::size_t before = CommandCount();
    const auto mods = Qt::KeyboardModifiers(modifiers);
    QTest::keyPress(panel.get(), Qt::Key(key), mods);
    QCOMPARE(shown(), pressed);
    ExpectNoCommandSince(before);
    QTest::keyRelease(panel.get(), Qt::Key(key), mods);
    QCOMPARE(shown(), normal);
    QVERIFY(rig_.sim->instrument().WaitForCommands(before + 1, std::chrono::seconds(2)));
    QCOMPARE(QString::fromStdString(rig_.sim->instrument().LastCommand()), command);
    QVERIFY(panel->isVisible());  // Esc and Enter are keys here, not dialog actions
    ExpectNoCommandSince(before + 1);
}

void TestHardKeyPanel::heldPcKeySendsOnce() {
    auto panel = MakePanel();
    StartRemote(*panel);
    const std::size_t before = CommandCount();
    const auto send = [&](QEvent::Type type, bool repeat) {
        QKeyEvent event(type, Qt::Key_Return, Qt::NoModifier, QString(), repeat);
        QApplication::sendEvent(panel.get(), &event);
    };
    send(QEvent::KeyPress, false);
    // X11 repeats a held key as release/press pairs marked as repeats.
    for (int i = 0; i < 10; ++i) {
        send(QEvent::KeyRelease, true);
        send(QEvent::KeyPress, true);
    }
    ExpectNoCommandSince(before);
    send(QEvent::KeyRelease, false);
    QVERIFY(rig_.sim->instrument().WaitForCommands(before + 1, std::chrono::seconds(2)));
    QCOMPARE(QString::fromStdString(rig_.sim->instrument().LastCommand()),
             QStringLiteral("KEYP:ENTR"));
    ExpectNoCommandSince(before + 1);
}

void TestHardKeyPanel::unmappedAndStoppedKeysSendNothing() {
    auto panel = MakePanel();
    panel->Command(ids::kCmdConnect);
    QTRY_COMPARE(panel->view().PaneText(1), QStringLiteral("Connected"));
    // Stopped: Esc and Enter neither close the window nor press anything.
    for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter, Qt::Key_5}) {
        QTest::keyClick(panel.get(), key);
    }
    QVERIFY(panel->isVisible());
    QCOMPARE(panel->result(), 0);
    ExpectNoCommandSince(0);

    panel->Command(ids::kCmdStart);
    const std::size_t before = CommandCount();
    for (const Qt::Key key :
         {Qt::Key_Left, Qt::Key_Right, Qt::Key_Period, Qt::Key_Minus, Qt::Key_F1, Qt::Key_A}) {
        QTest::keyClick(panel.get(), key);
    }
    QTest::keyClick(panel.get(), Qt::Key_5, Qt::AltModifier);
    // A release whose press went elsewhere (Enter on a message box above the panel).
    QTest::keyRelease(panel.get(), Qt::Key_Return);
    QCOMPARE(panel->Knob()->Position(), 1);
    ExpectNoCommandSince(before);
}

void TestHardKeyPanel::menuFollowsTheState_data() {
    // Items: Connect, Disconnect, Start, Stop, High, Medium, Low, Screen mode, Communication.
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("enabled");
    QTest::addColumn<QString>("checked");
    QTest::newRow("disconnected") << "disconnected"
                                  << "100000011"
                                  << "010110000";
    QTest::newRow("connected") << "connected"
                               << "011011111"
                               << "100110000";
    QTest::newRow("running") << "running"
                             << "000111111"
                             << "101010000";
    QTest::newRow("stopped") << "stopped"
                             << "011011111"
                             << "100110000";
    QTest::newRow("screen mode") << "screen"
                                 << "100000011"
                                 << "010110010";
}

void TestHardKeyPanel::menuFollowsTheState() {
    QFETCH(QString, state);
    QFETCH(QString, enabled);
    QFETCH(QString, checked);
    auto panel = MakePanel();
    if (state != "disconnected" && state != "screen") {
        panel->Command(ids::kCmdConnect);
        QTRY_COMPARE(panel->view().PaneText(1), QStringLiteral("Connected"));
    }
    if (state == "running" || state == "stopped") {
        panel->Command(ids::kCmdStart);
    }
    if (state == "stopped") {
        panel->Command(ids::kCmdStop);
    }
    if (state == "screen") {
        panel->Command(ids::kCmdScreenMode);
    }
    panel->UpdateMenu();
    const int items[] = {ids::kCmdConnect,    ids::kCmdDisconnect,  ids::kCmdStart,
                         ids::kCmdStop,       ids::kCmdQualityHigh, ids::kCmdQualityMedium,
                         ids::kCmdQualityLow, ids::kCmdScreenMode,  ids::kCmdCommunication};
    QString gotEnabled;
    QString gotChecked;
    for (const int id : items) {
        QAction* action = panel->panelSession().Action(id);
        QVERIFY2(action, qPrintable(QString::number(id)));
        gotEnabled += action->isEnabled() ? '1' : '0';
        gotChecked += action->isChecked() ? '1' : '0';
    }
    QCOMPARE(gotEnabled, enabled);
    QCOMPARE(gotChecked, checked);
    // This panel has no scale choice.
    for (const int id : {ids::kCmdScale100, ids::kCmdScale85, ids::kCmdScale70}) {
        QVERIFY(!panel->panelSession().Action(id));
    }
}

void TestHardKeyPanel::screenModeTwiceRestores() {
    auto panel = MakePanel();
    const auto snapshot = [&] {
        QString visible;
        for (int id = ids::kHardKeyFirst; id <= ids::kHardKeyLast; ++id) {
            visible += panel->Key(id)->isHidden() ? '0' : '1';
        }
        visible += panel->Knob()->isHidden() ? '0' : '1';
        const qv::ScreenRect r = panel->screenRect();
        return QStringLiteral("%1x%2 (%3,%4)-(%5,%6) %7")
            .arg(panel->width())
            .arg(panel->height())
            .arg(r.left)
            .arg(r.top)
            .arg(r.right)
            .arg(r.bottom)
            .arg(visible);
    };
    const auto stored = [&] {
        QSettings s(rig_.ini, QSettings::IniFormat);
        return s.value("Connection/HideKeyBtn").toInt();
    };
    const QString normal = snapshot();
    //                          keys 1073..1100 and the knob
    QCOMPARE(normal, QStringLiteral("1023x699 (111,25)-(911,505) 11111111111111111111111111111"));
    QCOMPARE(panel->screen().geometry(), QRect(111, 25, 800, 480));
    QCOMPARE(panel->view().statusBar()->geometry(), QRect(0, 679, 1023, 20));

    panel->Command(ids::kCmdScreenMode);
    QCOMPARE(snapshot(), QStringLiteral("800x500 (0,0)-(800,480) 00000011111100011111101011111"));
    QCOMPARE(panel->screen().geometry(), QRect(0, 0, 800, 480));
    QCOMPARE(panel->view().statusBar()->geometry(), QRect(0, 480, 800, 20));
    QCOMPARE(stored(), 1);
    QVERIFY(panel->minimumWidth() <= 800);

    panel->Command(ids::kCmdScreenMode);
    QCOMPARE(snapshot(), normal);
    QCOMPARE(stored(), 0);
    QCOMPARE(panel->minimumSize(), CRemoteDlgRook::kMinClient);
    QCOMPARE(panel->maximumSize(), CRemoteDlgRook::kMaxClient);

    // The stored mode is the one the next window opens in.
    panel->Command(ids::kCmdScreenMode);
    panel.reset();
    auto again = MakePanel();
    QVERIFY(again->ScreenMode());
    QCOMPARE(again->size(), CRemoteDlgRook::kScreenClient);
    QCOMPARE(again->screen().geometry(), QRect(0, 0, 800, 480));
}

void TestHardKeyPanel::screenModeKeepsFramesComing() {
    auto panel = MakePanel();
    StartRemote(*panel);
    CScreenView& screen = panel->screen();
    QTRY_VERIFY_WITH_TIMEOUT(screen.framesShown() >= 1, 5000);
    for (const QRect expected : {QRect(0, 0, 800, 480), QRect(111, 25, 800, 480)}) {
        panel->Command(ids::kCmdScreenMode);
        const int shown = screen.framesShown();
        QTRY_VERIFY_WITH_TIMEOUT(screen.framesShown() >= shown + 2, 5000);
        QCOMPARE(screen.geometry(), expected);
        QVERIFY(screen.isVisible());
        QCOMPARE(screen.frame().size(), QSize(800, 480));
    }
}

void TestHardKeyPanel::storedScaleKeptButDrawnFull_data() {
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("kept");
    QTest::newRow("85%") << 1 << 1;
    QTest::newRow("70%") << 2 << 2;
    QTest::newRow("invalid") << 5 << 0;
}

void TestHardKeyPanel::storedScaleKeptButDrawnFull() {
    QFETCH(int, stored);
    QFETCH(int, kept);
    {
        QSettings s(rig_.ini, QSettings::IniFormat);
        s.setValue("Connection/Scale", stored);
    }
    auto panel = MakePanel();
    {
        QSettings s(rig_.ini, QSettings::IniFormat);
        QCOMPARE(s.value("Connection/Scale").toInt(), kept);
    }
    QCOMPARE(panel->scale(), 0);
    QCOMPARE(panel->windowTitle(), QStringLiteral("QVRemote 2.1"));
    QVERIFY(!panel->windowIcon().isNull());
    QCOMPARE(panel->size(), CRemoteDlgRook::kNormalClient);
    QCOMPARE(panel->Key(1084)->pos(), QPoint(935, 435));
    StartRemote(*panel);
    QTRY_VERIFY_WITH_TIMEOUT(panel->screen().framesShown() >= 1, 5000);
    QCOMPARE(panel->screen().frame().size(), QSize(800, 480));
    // The background is painted at its own size: its bottom-right pixel is the image's.
    const QImage background = qv::SkinImage(243);
    QCOMPARE(background.size(), QSize(1023, 679));
    const QImage shot = panel->grab().toImage();
    QCOMPARE(shot.pixelColor(1022, 678), background.pixelColor(1022, 678));
    QCOMPARE(shot.pixelColor(5, 5), background.pixelColor(5, 5));
}

void TestHardKeyPanel::touch_data() {
    QTest::addColumn<bool>("screenMode");
    QTest::addColumn<bool>("running");
    QTest::addColumn<QPoint>("click");
    QTest::addColumn<QString>("command");  // empty: nothing is sent
    QTest::newRow("normal") << false << true << QPoint(211, 75) << "KEYP 100,50";
    QTest::newRow("normal top-left") << false << true << QPoint(111, 25) << "KEYP 0,0";
    QTest::newRow("normal last pixel") << false << true << QPoint(910, 504) << "KEYP 799,479";
    QTest::newRow("normal right edge") << false << true << QPoint(911, 100) << "";
    QTest::newRow("screen mode") << true << true << QPoint(100, 50) << "KEYP 100,50";
    QTest::newRow("screen mode last pixel") << true << true << QPoint(799, 479) << "KEYP 799,479";
    QTest::newRow("screen mode status bar") << true << true << QPoint(100, 490) << "";
    QTest::newRow("stopped") << false << false << QPoint(211, 75) << "";
}

void TestHardKeyPanel::touch() {
    QFETCH(bool, screenMode);
    QFETCH(bool, running);
    QFETCH(QPoint, click);
    QFETCH(QString, command);
    auto panel = MakePanel();
    panel->Command(ids::kCmdConnect);
    QTRY_COMPARE(panel->view().PaneText(1), QStringLiteral("Connected"));
    if (running) {
        panel->Command(ids::kCmdStart);
    }
    if (screenMode) {
        panel->Command(ids::kCmdScreenMode);
    }
    const std::size_t before = CommandCount();
    QTest::mouseClick(panel.get(), Qt::LeftButton, {}, click);
    if (command.isEmpty()) {
        ExpectNoCommandSince(before);
        return;
    }
    QVERIFY(rig_.sim->instrument().WaitForCommands(before + 1, std::chrono::seconds(2)));
    QCOMPARE(QString::fromStdString(rig_.sim->instrument().LastCommand()), command);
    ExpectNoCommandSince(before + 1);
}

void TestHardKeyPanel::keyWhileTheLinkDrops() {
    auto panel = MakePanel();
    StartRemote(*panel);
    QTRY_VERIFY_WITH_TIMEOUT(panel->screen().framesShown() >= 1, 5000);
    rig_.sim->Stop();
    QTRY_COMPARE_WITH_TIMEOUT(panel->view().PaneText(1), QStringLiteral("Disconnected"), 5000);
    auto* mode = static_cast<CTqButton*>(panel->Key(1073));
    QTest::mouseClick(mode, Qt::LeftButton, {}, mode->rect().center());
    QTest::keyClick(panel.get(), Qt::Key_5);
    QTest::qWait(150);
    QVERIFY(panel->isVisible());
    QCOMPARE(panel->view().PaneText(1), QStringLiteral("Disconnected"));
    QVERIFY(!panel->engine().IsConnected());
}

QTEST_MAIN(TestHardKeyPanel)
#include "tst_hardkey_panel.moc"
