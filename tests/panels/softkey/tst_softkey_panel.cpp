// The soft-key panel window against the simulated instrument over real TCP: keys, knob and
// PC keys reach the instrument, the layout holds its numbers at every scale, touches follow
// the model kind, and the menu's scale and quality items store what they should.
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "panels/CPanelSessionView.h"
#include "panels/CScreenView.h"
#include "panels/softkey/CRemoteDlgWren.h"
#include "panels/softkey/CReplayBar.h"
#include "panels/softkey/SoftKeyTable.h"
#include "resources/ids.h"
#include "session/Commands.h"
#include "sim/SimServer.h"
#include "tests/panels/PanelRig.h"
#include "widgets/CKnobButton.h"
#include "widgets/CSkinButton.h"
#include "widgets/SkinLibrary.h"

namespace ids = qv::ids;
using namespace std::chrono_literals;

class TestSoftKeyPanel : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void init();
    void cleanup();

    void keysReachTheInstrument_data();
    void keysReachTheInstrument();
    void keysFollowRemoteControl();
    void layoutAtEveryScale_data();
    void layoutAtEveryScale();
    void statusTextsFitTheirPanes();
    void keyPlacesAndImages_data();
    void keyPlacesAndImages();
    void scaleChangeRelaysOutAndStores();
    void currentScaleWritesNothing();
    void menuChecksScaleAndMode();
    void screenModeTogglesBack();
    void touchMapsToInstrumentPixels();
    void modelKindGatesTouch_data();
    void modelKindGatesTouch();
    void pcKeysPressAndRelease_data();
    void pcKeysPressAndRelease();
    void heldKeySendsOnce();
    void pressedLookFollowsScale();
    void qualityItemsSendAndStore_data();
    void qualityItemsSendAndStore();
    void replayAndLiveExcludeEachOther();

  private:
    std::unique_ptr<CRemoteDlgWren> MakePanel();
    // Connects and starts remote control.
    void GoLive(CRemoteDlgWren& panel, bool start = true);
    QVariant Stored(const char* name) const;
    // Sends a known command and returns everything the instrument received up to it.
    QStringList CommandsUpToMarker(CRemoteDlgWren& panel);

    PanelRig rig_;
};

void TestSoftKeyPanel::initTestCase() {
    QVERIFY(rig_.Prepare());
}

void TestSoftKeyPanel::init() {
    QVERIFY(rig_.Reset());
}

void TestSoftKeyPanel::cleanup() {
    rig_.Release();
}

std::unique_ptr<CRemoteDlgWren> TestSoftKeyPanel::MakePanel() {
    auto panel = std::make_unique<CRemoteDlgWren>(*rig_.store, nullptr, rig_.sim->port());
    panel->show();
    return panel;
}

void TestSoftKeyPanel::GoLive(CRemoteDlgWren& panel, bool start) {
    panel.Command(ids::kCmdConnect);
    QTRY_COMPARE(panel.panelSession().view().PaneText(1), QStringLiteral("Connected"));
    if (start) {
        panel.Command(ids::kCmdStart);
        QCOMPARE(panel.session().streaming().load(), 1);
    }
}

QVariant TestSoftKeyPanel::Stored(const char* name) const {
    QSettings s(rig_.ini, QSettings::IniFormat);
    return s.value(QStringLiteral("Connection/") + QLatin1String(name));
}

QStringList TestSoftKeyPanel::CommandsUpToMarker(CRemoteDlgWren& panel) {
    const std::size_t before = rig_.sim->instrument().Commands().size();
    panel.OnKey(1022);  // Mode: never sent by the cases below
    rig_.sim->instrument().WaitForCommands(before + 1, 3s);
    QStringList out;
    for (const auto& c : rig_.sim->instrument().Commands()) {
        out << QString::fromStdString(c.text);
    }
    if (!out.isEmpty() && out.back() == QLatin1String("KEYP:MODE")) {
        out.pop_back();
    }
    return out;
}

// Every key, the knob and the hidden keyboard button send their one command.
void TestSoftKeyPanel::keysReachTheInstrument_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("command");
    for (const qv::PanelKey& key : qv::softkey::kKeys) {
        QTest::addRow("%d", key.id)
            << key.id << QString::fromLatin1(key.command.data(), int(key.command.size()));
    }
    QTest::addRow("knob clockwise") << ids::kSoftKnob << "KEYP:RIGH";
    QTest::addRow("keyboard button") << qv::softkey::kKeyboardButton << "SAVE:KEYP:STRS [QVRemote]";
}

void TestSoftKeyPanel::keysReachTheInstrument() {
    QFETCH(int, id);
    QFETCH(QString, command);
    auto panel = MakePanel();
    GoLive(*panel);
    rig_.sim->instrument().ClearRecords();
    if (id == ids::kSoftKnob) {
        // Grab the knob at the top, turn it a third of the way to three o'clock: one detent.
        CKnobButton* knob = panel->Knob();
        const QPoint c = knob->Center();
        QTest::mousePress(knob, Qt::LeftButton, {}, c - QPoint(0, 40));
        QMouseEvent move(QEvent::MouseMove, QPointF(c + QPoint(20, -35)),
                         knob->mapToGlobal(QPointF(c + QPoint(20, -35))), Qt::NoButton,
                         Qt::LeftButton, {});
        QApplication::sendEvent(knob, &move);
        QTest::mouseRelease(knob, Qt::LeftButton, {}, c + QPoint(20, -35));
        QCOMPARE(knob->Position(), 2);
    } else if (id == qv::softkey::kKeyboardButton) {
        auto* button = panel->findChild<QAbstractButton*>(QStringLiteral("ctrl1109"));
        QVERIFY(button != nullptr);
        QVERIFY(!button->isVisible());
        button->click();
    } else {
        CSkinButton* key = panel->Key(id);
        QVERIFY(key != nullptr);
        QVERIFY(key->isEnabled());
        QTest::mouseClick(key, Qt::LeftButton, {}, key->rect().center());
    }
    QVERIFY(rig_.sim->instrument().WaitForCommands(1, 3s));
    QCOMPARE(QString::fromStdString(rig_.sim->instrument().LastCommand()), command);
    QCOMPARE(rig_.sim->instrument().Commands().size(), std::size_t{1});
}

void TestSoftKeyPanel::keysFollowRemoteControl() {
    auto panel = MakePanel();
    QCOMPARE(panel->windowTitle(), QStringLiteral("QVRemote 2.1"));
    const auto all = [&](bool enabled) {
        for (const qv::PanelKey& key : qv::softkey::kKeys) {
            CSkinButton* b = panel->Key(key.id);
            if (b->isEnabled() != enabled ||
                (!enabled && b->ChosenSlot() != CSkinButton::kDisabled)) {
                return false;
            }
        }
        return panel->Knob()->isEnabled() == enabled;
    };
    QVERIFY(all(false));
    GoLive(*panel, false);
    QVERIFY(all(false));  // connecting alone enables nothing
    panel->Command(ids::kCmdStart);
    QVERIFY(all(true));
    panel->Command(ids::kCmdStop);
    QVERIFY(all(false));
}

void TestSoftKeyPanel::layoutAtEveryScale_data() {
    QTest::addColumn<int>("scale");
    QTest::addColumn<bool>("screenMode");
    QTest::addColumn<QSize>("window");  // the design's outer size
    QTest::addColumn<QSize>("client");  // what the window's client area is here
    QTest::addColumn<QRect>("screen");  // left, top, width, height
    QTest::addColumn<int>("background");
    QTest::addRow("panel 100") << 0 << false << QSize(1282, 823) << QSize(1282, 787)
                               << QRect(41, 39, 800, 600) << 143;
    QTest::addRow("panel 85") << 1 << false << QSize(1089, 707) << QSize(1090, 672)
                              << QRect(34, 33, 680, 510) << 454;
    QTest::addRow("panel 70") << 2 << false << QSize(897, 592) << QSize(897, 557)
                              << QRect(28, 27, 559, 419) << 355;
    QTest::addRow("screen 100") << 0 << true << QSize(805, 656) << QSize(800, 620)
                                << QRect(0, 0, 800, 600) << 142;
    QTest::addRow("screen 85") << 1 << true << QSize(685, 566) << QSize(680, 530)
                               << QRect(0, 0, 680, 510) << 142;
    QTest::addRow("screen 70") << 2 << true << QSize(564, 475) << QSize(559, 439)
                               << QRect(0, 0, 559, 419) << 142;
}

void TestSoftKeyPanel::layoutAtEveryScale() {
    QFETCH(int, scale);
    QFETCH(bool, screenMode);
    QFETCH(QSize, window);
    QFETCH(QSize, client);
    QFETCH(QRect, screen);
    QFETCH(int, background);
    QVERIFY(rig_.store->StoreInt(qv::kSetScale, scale) == 1);
    QVERIFY(rig_.store->StoreInt(qv::kSetHideKeyBtn, screenMode ? 1 : 0) == 1);
    auto panel = MakePanel();
    QCOMPARE(panel->scale(), scale);
    QCOMPARE(panel->ScreenMode(), screenMode);
    QCOMPARE(panel->layout().WindowSize(), window);
    QCOMPARE(panel->size(), client);
    QCOMPARE(panel->layout().BackgroundId(), background);
    const qv::ScreenRect r = panel->screenRect();
    QCOMPARE(QRect(r.left, r.top, r.width(), r.height()), screen);
    // Frames are drawn and touches counted in the same place.
    QCOMPARE(panel->panelSession().screen().geometry(), screen);
    // The status bar runs along the bottom of the client area.
    QCOMPARE(panel->panelSession().statusBar()->geometry(),
             QRect(0, client.height() - 20, client.width(), 20));
}

void TestSoftKeyPanel::statusTextsFitTheirPanes() {
    // A desktop with a large font: the fixed-width panes still show their texts whole.
    const QFont before = QApplication::font();
    QFont large = before;
    large.setPointSize(14);
    QApplication::setFont(large);
    for (int scale : {0, 1, 2}) {
        QVERIFY(rig_.store->StoreInt(qv::kSetScale, scale) == 1);
        auto panel = MakePanel();
        auto* pane = panel->panelSession().statusBar()->findChild<QLabel*>(QStringLiteral("pane2"));
        QVERIFY(pane != nullptr);
        QTRY_VERIFY(pane->isVisible());
        for (const char* text : {"Remote Control Stopped", "Remote Control Started"}) {
            QVERIFY2(pane->fontMetrics().horizontalAdvance(QString::fromLatin1(text)) <=
                         pane->contentsRect().width(),
                     text);
        }
    }
    QApplication::setFont(before);
}

void TestSoftKeyPanel::keyPlacesAndImages_data() {
    QTest::addColumn<int>("scale");
    QTest::addColumn<int>("id");
    QTest::addColumn<QRect>("place");
    QTest::addColumn<int>("normalImage");
    QTest::addColumn<QSize>("imageSize");
    QTest::addRow("ESC 100") << 0 << 1013 << QRect(902, 38, 59, 42) << 135 << QSize(59, 42);
    QTest::addRow("ESC 85") << 1 << 1013 << QRect(766, 32, 50, 35) << 448 << QSize(50, 36);
    QTest::addRow("ESC 70") << 2 << 1013 << QRect(631, 26, 41, 29) << 349 << QSize(41, 29);
    QTest::addRow("soft key 4 85") << 1 << 1017 << QRect(770, 287, 44, 37) << 444 << QSize(44, 37);
    QTest::addRow("Enter 70") << 2 << 1042 << QRect(767, 468, 107, 31) << 386 << QSize(107, 32);
    QTest::addRow("Mode 85") << 1 << 1022 << QRect(32, 599, 83, 27) << 467 << QSize(83, 27);
    QTest::addRow("knob 100") << 0 << ids::kSoftKnob << QRect(1030, 120, 177, 177) << 220
                              << QSize(177, 177);
    QTest::addRow("knob 70") << 2 << ids::kSoftKnob << QRect(720, 83, 123, 123) << 432
                             << QSize(124, 124);
}

void TestSoftKeyPanel::keyPlacesAndImages() {
    QFETCH(int, scale);
    QFETCH(int, id);
    QFETCH(QRect, place);
    QFETCH(int, normalImage);
    QFETCH(QSize, imageSize);
    QVERIFY(rig_.store->StoreInt(qv::kSetScale, scale) == 1);
    auto panel = MakePanel();
    CSkinButton* b = id == ids::kSoftKnob ? panel->Knob() : panel->Key(id);
    QCOMPARE(b->geometry(), place);
    QCOMPARE(b->Image(CSkinButton::kNormal), qv::SkinImage(normalImage));
    QCOMPARE(b->Image(CSkinButton::kNormal).size(), imageSize);
    if (id == ids::kSoftKnob) {
        // The knob turns around the middle of its laid-out size, with this scale's frames.
        QCOMPARE(panel->Knob()->Center(), QPoint(place.width() / 2, place.width() / 2));
        QCOMPARE(panel->Knob()->ImageIds()[1], normalImage);
    }
}

void TestSoftKeyPanel::scaleChangeRelaysOutAndStores() {
    auto panel = MakePanel();
    const QPoint corner = panel->pos();
    panel->Command(ids::kCmdScale70);
    QCOMPARE(panel->scale(), 2);
    QCOMPARE(Stored(qv::kSetScale).toInt(), 2);
    QCOMPARE(panel->size(), QSize(897, 557));
    QCOMPARE(panel->Key(1013)->geometry(), QRect(631, 26, 41, 29));
    QCOMPARE(panel->Knob()->Center(), QPoint(61, 61));
    QCOMPARE(panel->panelSession().scale(), 2);  // frames and touches follow
    panel->Command(ids::kCmdScale85);
    QCOMPARE(Stored(qv::kSetScale).toInt(), 1);
    QCOMPARE(panel->Key(1013)->geometry(), QRect(766, 32, 50, 35));
    QCOMPARE(panel->Knob()->ImageIds()[0], 530);
    panel->Command(ids::kCmdScale100);
    QCOMPARE(Stored(qv::kSetScale).toInt(), 0);
    QCOMPARE(panel->size(), QSize(1282, 787));
    QCOMPARE(panel->pos(), corner);
}

void TestSoftKeyPanel::currentScaleWritesNothing() {
    QVERIFY(rig_.store->StoreInt(qv::kSetScale, 1) == 1);
    auto panel = MakePanel();
    {
        QSettings s(rig_.ini, QSettings::IniFormat);
        s.remove(QStringLiteral("Connection/Scale"));
    }
    const QRect before = panel->Key(1013)->geometry();
    panel->Command(ids::kCmdScale85);
    QVERIFY(!Stored(qv::kSetScale).isValid());
    QCOMPARE(panel->Key(1013)->geometry(), before);
    panel->Command(ids::kCmdScale70);
    QCOMPARE(Stored(qv::kSetScale).toInt(), 2);
}

void TestSoftKeyPanel::menuChecksScaleAndMode() {
    auto panel = MakePanel();
    const auto checked = [&](int id) {
        QAction* a = panel->panelSession().Action(id);
        return a != nullptr && a->isEnabled() && a->isChecked();
    };
    // The menu's own items run the panel's handlers.
    panel->panelSession().Action(ids::kCmdScale70)->trigger();
    panel->panelSession().Action(ids::kCmdScreenMode)->trigger();
    QCOMPARE(panel->scale(), 2);
    QVERIFY(panel->ScreenMode());
    panel->panelSession().UpdateMenu(panel->ScreenMode());
    QVERIFY(checked(ids::kCmdScale70));
    QVERIFY(!checked(ids::kCmdScale100));
    QVERIFY(!checked(ids::kCmdScale85));
    QVERIFY(checked(ids::kCmdScreenMode));
}

void TestSoftKeyPanel::screenModeTogglesBack() {
    QVERIFY(rig_.store->StoreInt(qv::kSetScale, 2) == 1);
    auto panel = MakePanel();
    const QSize size = panel->size();
    const QPoint corner = panel->pos();
    panel->Command(ids::kCmdScreenMode);
    QVERIFY(panel->ScreenMode());
    QCOMPARE(Stored(qv::kSetHideKeyBtn).toInt(), 1);
    QCOMPARE(panel->size(), QSize(559, 439));
    // Every key now lies outside the client area.
    for (const qv::PanelKey& key : qv::softkey::kKeys) {
        QVERIFY2(!panel->rect().intersects(panel->Key(key.id)->geometry()),
                 qPrintable(QString::number(key.id)));
    }
    QVERIFY(!panel->rect().intersects(panel->Knob()->geometry()));
    panel->Command(ids::kCmdScreenMode);
    QVERIFY(!panel->ScreenMode());
    QCOMPARE(Stored(qv::kSetHideKeyBtn).toInt(), 0);
    QCOMPARE(panel->size(), size);
    QCOMPARE(panel->pos(), corner);
}

void TestSoftKeyPanel::touchMapsToInstrumentPixels() {
    // At 70 % the picture is 559 wide: 558 is its last column, 560 maps to 800 and beyond clamps.
    const qv::ScreenRect rect{28, 27, 587, 446};
    QCOMPARE(qv::SoftKeyTouch(28 + 560, 27, rect, 2), std::string("KEYP 800,0"));
    QCOMPARE(qv::SoftKeyTouch(28 + 561, 27 + 600, rect, 2), std::string("KEYP 800,600"));

    QVERIFY(rig_.store->StoreInt(qv::kSetScale, 2) == 1);
    auto panel = MakePanel();
    GoLive(*panel);
    rig_.sim->instrument().ClearRecords();
    const qv::ScreenRect r = panel->screenRect();
    QTest::mouseClick(panel.get(), Qt::LeftButton, {}, QPoint(r.left + 558, r.top + 10));
    QTest::mouseClick(panel.get(), Qt::LeftButton, {}, QPoint(r.right, r.top + 10));  // edge
    QCOMPARE(CommandsUpToMarker(*panel), QStringList{"KEYP 797,14"});
}

void TestSoftKeyPanel::modelKindGatesTouch_data() {
    QTest::addColumn<QString>("model");
    QTest::addColumn<int>("kind");
    QTest::addRow("touch model") << "QV392B" << 6;
    QTest::addRow("lower case") << "qv392b" << 0;
    QTest::addRow("trailing blank") << "QV392B " << 0;
    QTest::addRow("no touch screen") << "TQ381A" << 4;
    QTest::addRow("other family") << "HN6600C" << 5;
}

void TestSoftKeyPanel::modelKindGatesTouch() {
    QFETCH(QString, model);
    QFETCH(int, kind);
    rig_.sim->instrument().SetModel(model.toStdString());
    auto panel = MakePanel();
    GoLive(*panel);
    QCOMPARE(panel->ModelKind(), kind);
    rig_.sim->instrument().ClearRecords();
    const qv::ScreenRect r = panel->screenRect();
    QTest::mouseClick(panel.get(), Qt::LeftButton, {}, QPoint(r.left + 100, r.top + 50));
    const QStringList expected = kind == 6 ? QStringList{"KEYP 100,50"} : QStringList{};
    QCOMPARE(CommandsUpToMarker(*panel), expected);
}

void TestSoftKeyPanel::pcKeysPressAndRelease_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("panelKey");  // 0: not mapped
    QTest::addColumn<QString>("command");
    const int pad = Qt::KeypadModifier;
    QTest::addRow("F1") << int(Qt::Key_F1) << 0 << 1014 << "KEYP:CUS1";
    QTest::addRow("F3") << int(Qt::Key_F3) << 0 << 1016 << "KEYP:CUS3";
    QTest::addRow("F7") << int(Qt::Key_F7) << 0 << 1020 << "KEYP:CUS7";
    QTest::addRow("F8") << int(Qt::Key_F8) << 0 << 0 << "";
    QTest::addRow("main 7") << int(Qt::Key_7) << 0 << 1035 << "KEYP:NUM7";
    QTest::addRow("pad 7") << int(Qt::Key_7) << pad << 1035 << "KEYP:NUM7";
    QTest::addRow("shift 1") << int(Qt::Key_1) << int(Qt::ShiftModifier) << 1029 << "KEYP:NUM1";
    QTest::addRow("alt 1") << int(Qt::Key_1) << int(Qt::AltModifier) << 0 << "";
    QTest::addRow("main 0") << int(Qt::Key_0) << 0 << 1039 << "KEYP:NUM0";
    QTest::addRow("pad point") << int(Qt::Key_Period) << pad << 1038 << "KEYP:JUM";
    QTest::addRow("full stop") << int(Qt::Key_Period) << 0 << 0 << "";
    QTest::addRow("pad plus") << int(Qt::Key_Plus) << pad << 0 << "";
    QTest::addRow("backspace") << int(Qt::Key_Backspace) << 0 << 1041 << "KEYP:DEL";
    QTest::addRow("delete") << int(Qt::Key_Delete) << 0 << 1041 << "KEYP:DEL";
    QTest::addRow("enter") << int(Qt::Key_Return) << 0 << 1042 << "KEYP:ENTR";
    QTest::addRow("pad enter") << int(Qt::Key_Enter) << pad << 1042 << "KEYP:ENTR";
    QTest::addRow("esc") << int(Qt::Key_Escape) << 0 << 1013 << "KEYP:ESC";
    QTest::addRow("left") << int(Qt::Key_Left) << 0 << 1046 << "KEYP:LEFT";
    QTest::addRow("up") << int(Qt::Key_Up) << 0 << 1043 << "KEYP:UP";
    QTest::addRow("right") << int(Qt::Key_Right) << 0 << 1044 << "KEYP:RIGH";
    QTest::addRow("down") << int(Qt::Key_Down) << 0 << 1045 << "KEYP:DOWN";
    QTest::addRow("letter") << int(Qt::Key_A) << 0 << 0 << "";
}

void TestSoftKeyPanel::pcKeysPressAndRelease() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(int, panelKey);
    QFETCH(QString, command);
    auto panel = MakePanel();
    // Connected but stopped: the keys are disabled, their commands still go out.
    GoLive(*panel, false);
    rig_.sim->instrument().ClearRecords();
    const auto mods = Qt::KeyboardModifiers(modifiers);
    // Keys reach the panel through whichever control has the focus.
    QWidget* target = panel->Key(1014);
    QTest::keyPress(target, Qt::Key(key), mods);
    if (panelKey != 0) {
        const auto* skin = qv::FindKey(qv::softkey::kKeys, panelKey)->skin;
        const int pressedId = skin->sets[0].ids[1];
        QCOMPARE(panel->Key(panelKey)->Image(CSkinButton::kNormal), qv::SkinImage(pressedId));
    }
    QTest::keyRelease(target, Qt::Key(key), mods);
    if (panelKey != 0) {
        const int normalId = qv::FindKey(qv::softkey::kKeys, panelKey)->skin->sets[0].ids[0];
        QCOMPARE(panel->Key(panelKey)->Image(CSkinButton::kNormal), qv::SkinImage(normalId));
    }
    const QStringList expected = command.isEmpty() ? QStringList{} : QStringList{command};
    QCOMPARE(CommandsUpToMarker(*panel), expected);
    QVERIFY(panel->isVisible());  // Esc and Enter never close the panel
}

void TestSoftKeyPanel::heldKeySendsOnce() {
    auto panel = MakePanel();
    GoLive(*panel, false);
    rig_.sim->instrument().ClearRecords();
    QWidget* target = panel.get();
    QTest::keyPress(target, Qt::Key_F3);
    // Auto-repeat arrives as release and press pairs.
    for (int i = 0; i < 5; ++i) {
        QKeyEvent up(QEvent::KeyRelease, Qt::Key_F3, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(target, &up);
        QKeyEvent down(QEvent::KeyPress, Qt::Key_F3, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(target, &down);
    }
    QTest::keyRelease(target, Qt::Key_F3);
    // A release whose press went to another window (Enter on a message box) sends nothing.
    QTest::keyRelease(target, Qt::Key_F2);
    QCOMPARE(CommandsUpToMarker(*panel), (QStringList{"KEYP:CUS3"}));
}

void TestSoftKeyPanel::pressedLookFollowsScale() {
    QVERIFY(rig_.store->StoreInt(qv::kSetScale, 1) == 1);
    auto panel = MakePanel();
    QTest::keyPress(panel.get(), Qt::Key_Escape);
    QCOMPARE(panel->Key(1013)->Image(CSkinButton::kNormal), qv::SkinImage(449));
    QTest::keyRelease(panel.get(), Qt::Key_Escape);
    QCOMPARE(panel->Key(1013)->Image(CSkinButton::kNormal), qv::SkinImage(448));
    QCOMPARE(panel->Key(1013)->Image(CSkinButton::kDisabled), qv::SkinImage(450));
}

void TestSoftKeyPanel::qualityItemsSendAndStore_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("stored");
    QTest::addRow("high") << ids::kCmdQualityHigh << "KEYP:QUAL:HIGH" << 0;
    QTest::addRow("medium") << ids::kCmdQualityMedium << "KEYP:QUAL:NORM" << 1;
    QTest::addRow("low") << ids::kCmdQualityLow << "KEYP:QUAL:LOW" << 2;
}

void TestSoftKeyPanel::qualityItemsSendAndStore() {
    QFETCH(int, id);
    QFETCH(QString, command);
    QFETCH(int, stored);
    auto panel = MakePanel();
    GoLive(*panel, false);
    rig_.sim->instrument().ClearRecords();
    panel->Command(id);
    QCOMPARE(CommandsUpToMarker(*panel), QStringList{command});
    QCOMPARE(Stored(qv::kSetQuality).toInt(), stored);
    // Start repeats a stored Medium or Low.
    rig_.sim->instrument().ClearRecords();
    panel->Command(ids::kCmdStart);
    const QStringList again = stored == 0 ? QStringList{} : QStringList{command};
    QCOMPARE(CommandsUpToMarker(*panel), again);
}

void TestSoftKeyPanel::replayAndLiveExcludeEachOther() {
    const QString folder = rig_.dir.filePath("frames");
    QVERIFY(QDir().mkpath(folder));
    for (int i = 0; i < 3; ++i) {
        QImage frame(800, 600, QImage::Format_RGB32);
        frame.fill(QColor(40 * i, 80, 120));
        QVERIFY(frame.save(QDir(folder).filePath(QStringLiteral("f%1.jpg").arg(i))));
    }
    auto panel = MakePanel();
    auto* bar = qobject_cast<CReplayBar*>(panel->replayBar());
    QVERIFY(bar != nullptr);
    QVERIFY(bar->isHidden());
    const QSize size = panel->size();
    const QRect status = panel->panelSession().statusBar()->geometry();

    // The menu item shows the bar under the panel; the panel's own numbers stay.
    QAction* item = nullptr;
    for (QAction* a : panel->panelSession().menu().actions()) {
        if (a->data().toInt() == CRemoteDlgWren::kCmdReplay) {
            item = a;
        }
    }
    QVERIFY(item != nullptr);
    item->trigger();
    QVERIFY(!bar->isHidden());
    QCOMPARE(panel->size(), size + QSize(0, bar->height()));
    QCOMPARE(bar->geometry().top(), size.height());
    QCOMPARE(panel->panelSession().statusBar()->geometry(), status);
    QCOMPARE(panel->panelSession().screen().geometry(), QRect(41, 39, 800, 600));

    GoLive(*panel);
    bar->player().chooseFolder = [folder] { return folder.toStdString(); };
    bar->player().Open();
    QCOMPARE(bar->player().frames().size(), std::size_t{3});
    bar->player().Play();
    // A replay takes the picture: remote control stops.
    QCOMPARE(panel->session().streaming().load(), 0);
    QCOMPARE(panel->panelSession().view().PaneText(2), QStringLiteral("Remote Control Stopped"));
    QTRY_VERIFY(panel->panelSession().screen().framesShown() > 0);
    // Starting remote control ends the replay.
    panel->Command(qv::ids::kCmdStart);
    QVERIFY(!bar->player().playing());
    QCOMPARE(panel->session().streaming().load(), 1);

    panel->Command(CRemoteDlgWren::kCmdReplay);
    QVERIFY(bar->isHidden());
    QCOMPARE(panel->size(), size);
}

QTEST_MAIN(TestSoftKeyPanel)
#include "tst_softkey_panel.moc"
