#include <QSignalSpy>
#include <QTest>
#include <string>
#include <vector>

#include "widgets/CKnobButton.h"
#include "widgets/CRemoteDlg.h"
#include "widgets/SkinCatalogue.h"
#include "widgets/SkinLibrary.h"

namespace {

// A panel that records what the knob sends.
class RecordingPanel : public CRemoteDlg {
  public:
    RecordingPanel() : CRemoteDlg(241) {}
    void SendKey(std::string text) override { sent.push_back(std::move(text)); }
    std::vector<std::string> sent;

    int Count(const std::string& text) const {
        int n = 0;
        for (const auto& s : sent) {
            n += s == text ? 1 : 0;
        }
        return n;
    }
};

constexpr QPoint kKnobAt(40, 30);
const auto kFrames = qv::skin::kKnobs[0].Frames();  // hard-key knob, 140 x 140

// Client point of the knob at a bearing, 50 pixels out from the centre (70, 70).
QPoint At(int degrees) {
    const double a = degrees * 3.14159265358979 / 180.0;
    return QPoint(70 + static_cast<int>(std::lround(50 * std::sin(a))),
                  70 - static_cast<int>(std::lround(50 * std::cos(a))));
}

}  // namespace

class KnobTest : public QObject {
    Q_OBJECT
  private slots:
    void angle_data();
    void angle();
    void position_data();
    void position();
    void centre_data();
    void centre();
    void moves_data();
    void moves();
    void turningMode();
    void disabledKnobTakesNoInput();
    void wheelNotchesAreSteps();

  private:
    struct Rig {
        RecordingPanel panel;
        CKnobButton* knob = nullptr;
        Rig() {
            panel.resize(300, 240);
            knob = new CKnobButton(&panel);
            knob->setGeometry(QRect(kKnobAt, QSize(140, 140)));
            knob->SetImages(kFrames);
            knob->LoadPositionImages();
            knob->SetOwner(&panel);
        }
        QWindow* Window() { return panel.windowHandle(); }
        QPoint Panel(QPoint knobPoint) const { return knobPoint + kKnobAt; }
    };
};

void KnobTest::angle_data() {
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<int>("degrees");
    QTest::newRow("straight up") << QPoint(70, 0) << 0;
    QTest::newRow("right") << QPoint(140, 70) << 90;
    QTest::newRow("below") << QPoint(70, 140) << 180;
    QTest::newRow("left") << QPoint(0, 70) << 270;
    QTest::newRow("centre itself") << QPoint(70, 70) << 180;
    QTest::newRow("column below") << QPoint(70, 71) << 180;
    QTest::newRow("column above") << QPoint(70, 69) << 0;
    QTest::newRow("upper right") << QPoint(140, 0) << 45;
    QTest::newRow("lower left") << QPoint(0, 140) << 225;
    QTest::newRow("just left of up") << QPoint(69, 0) << 359;
    QTest::newRow("just right of up") << QPoint(71, 0) << 0;
    QTest::newRow("outside the knob") << QPoint(-500, 70) << 270;
}

void KnobTest::angle() {
    QFETCH(QPoint, point);
    QFETCH(int, degrees);
    Rig rig;
    QCOMPARE(rig.knob->AngleFromPoint(point.x(), point.y()), degrees);
}

void KnobTest::position_data() {
    QTest::addColumn<int>("angle");
    QTest::addColumn<int>("position");
    const int table[][2] = {{0, 1},    {14, 1},   {15, 2},   {44, 2},   {45, 3},   {74, 3},
                            {75, 4},   {90, 4},   {104, 4},  {105, 5},  {164, 6},  {165, 7},
                            {180, 7},  {194, 7},  {195, 8},  {254, 9},  {255, 10}, {284, 10},
                            {285, 11}, {314, 11}, {315, 12}, {344, 12}, {345, 1},  {359, 1}};
    for (const auto& row : table) {
        QTest::addRow("%d deg", row[0]) << row[0] << row[1];
    }
}

void KnobTest::position() {
    QFETCH(int, angle);
    QFETCH(int, position);
    QCOMPARE(CKnobButton::PositionFromAngle(angle), position);
}

void KnobTest::centre_data() {
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QPoint>("centre");
    QTest::newRow("140 x 140") << QSize(140, 140) << QPoint(70, 70);
    QTest::newRow("140 x 120") << QSize(140, 120) << QPoint(60, 60);
    QTest::newRow("odd 177") << QSize(177, 177) << QPoint(88, 88);
    QTest::newRow("123 x 123") << QSize(123, 123) << QPoint(61, 61);
}

void KnobTest::centre() {
    QFETCH(QSize, size);
    QFETCH(QPoint, centre);
    CKnobButton knob;
    knob.resize(size);
    knob.SetImages(kFrames);
    QCOMPARE(knob.Center(), centre);
}

void KnobTest::moves_data() {
    QTest::addColumn<QList<int>>("angles");
    QTest::addColumn<int>("right");
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("position");
    QTest::newRow("past 15 clockwise") << QList<int>{20} << 1 << 0 << 2;
    QTest::newRow("350 to 10 stays") << QList<int>{350, 10} << 0 << 0 << 1;
    QTest::newRow("1 to 12 to 1") << QList<int>{330, 0} << 1 << 1 << 1;
    QTest::newRow("2 to 7 at once") << QList<int>{30, 180} << 6 << 0 << 7;
    QTest::newRow("12 to 2 the long way") << QList<int>{330, 30} << 0 << 11 << 2;
    QTest::newRow("2 to 12 the long way") << QList<int>{30, 330} << 11 << 0 << 12;
    QTest::newRow("half a turn back") << QList<int>{180, 0} << 6 << 6 << 1;
    QTest::newRow("3 o'clock at the first move") << QList<int>{90} << 3 << 0 << 4;
}

void KnobTest::moves() {
    QFETCH(QList<int>, angles);
    QFETCH(int, right);
    QFETCH(int, left);
    QFETCH(int, position);
    Rig rig;
    for (int a : angles) {
        rig.knob->UpdatePosition(a);
    }
    QCOMPARE(rig.panel.Count("KEYP:RIGH"), right);
    QCOMPARE(rig.panel.Count("KEYP:LEFT"), left);
    QCOMPARE(static_cast<int>(rig.panel.sent.size()), right + left);
    QCOMPARE(rig.knob->Position(), position);
    const int id = kFrames[static_cast<std::size_t>(position)];
    QCOMPARE(rig.knob->Image(CSkinButton::kNormal).cacheKey(), qv::SkinImage(id).cacheKey());
    QCOMPARE(rig.knob->Image(CSkinButton::kDisabled).cacheKey(),
             qv::SkinImage(kFrames[0]).cacheKey());
}

void KnobTest::turningMode() {
    Rig rig;
    QSignalSpy clicked(rig.knob, &QAbstractButton::clicked);
    rig.panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.panel));
    QWindow* w = rig.Window();
    // Moves without a press first do nothing.
    for (int a : {90, 180, 270}) {
        QTest::mouseMove(w, rig.Panel(At(a)));
    }
    QVERIFY(rig.panel.sent.empty());

    QTest::mousePress(w, Qt::LeftButton, {}, rig.Panel(At(0)));
    QVERIFY(rig.knob->Turning());
    QVERIFY(!rig.knob->isDown());  // not pressed in
    QTest::mouseMove(w, rig.Panel(At(90)));
    QCOMPARE(rig.panel.Count("KEYP:RIGH"), 3);
    QCOMPARE(rig.knob->Position(), 4);

    // Drag out and let go outside: the knob never sees that release.
    QTest::mouseMove(w, QPoint(250, 220));
    QTest::mouseRelease(w, Qt::LeftButton, {}, QPoint(250, 220));
    QVERIFY(rig.knob->Turning());
    QCOMPARE(rig.panel.sent.size(), std::size_t{3});

    // Back over the knob without a button: it still turns.
    QTest::mouseMove(w, rig.Panel(At(180)));
    QCOMPARE(rig.panel.Count("KEYP:RIGH"), 6);
    QCOMPARE(rig.knob->Position(), 7);

    // The next release on the knob ends it.
    QTest::mousePress(w, Qt::LeftButton, {}, rig.Panel(At(180)));
    QTest::mouseRelease(w, Qt::LeftButton, {}, rig.Panel(At(180)));
    QVERIFY(!rig.knob->Turning());
    QVERIFY(!rig.knob->isDown());
    QTest::mouseMove(w, rig.Panel(At(270)));
    QCOMPARE(rig.panel.sent.size(), std::size_t{6});
    QCOMPARE(clicked.count(), 0);
    QVERIFY(!rig.knob->hasFocus());
}

void KnobTest::disabledKnobTakesNoInput() {
    Rig rig;
    rig.knob->setEnabled(false);
    rig.panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.panel));
    QTest::mousePress(rig.Window(), Qt::LeftButton, {}, rig.Panel(At(0)));
    QTest::mouseMove(rig.Window(), rig.Panel(At(90)));
    QTest::mouseRelease(rig.Window(), Qt::LeftButton, {}, rig.Panel(At(90)));
    QVERIFY(rig.panel.sent.empty());
    QVERIFY(!rig.knob->Turning());
    QCOMPARE(rig.knob->ChosenSlot(), int(CSkinButton::kDisabled));
}

void KnobTest::wheelNotchesAreSteps() {
    Rig rig;
    rig.panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.panel));
    const auto wheel = [&](int delta) {
        const QPointF at(70, 70);
        QWheelEvent e(at, rig.knob->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(rig.knob, &e);
    };
    // A notch up is one step clockwise; the knob's image turns with it.
    wheel(120);
    QCOMPARE(rig.panel.sent, std::vector<std::string>{"KEYP:RIGH"});
    QCOMPARE(rig.knob->Position(), 2);
    // Two notches down, across the top: two steps back.
    wheel(-240);
    QCOMPARE(rig.panel.Count("KEYP:LEFT"), 2);
    QCOMPARE(rig.knob->Position(), 12);
    // A fine-grained wheel: steps only per whole notch.
    wheel(60);
    QCOMPARE(rig.panel.sent.size(), std::size_t{3});
    wheel(60);
    QCOMPARE(rig.panel.sent.size(), std::size_t{4});
    QCOMPARE(rig.knob->Position(), 1);
    // A disabled knob (remote control stopped) takes no wheel either.
    rig.knob->setEnabled(false);
    wheel(120);
    QCOMPARE(rig.panel.sent.size(), std::size_t{4});
}

QTEST_MAIN(KnobTest)
#include "tst_knob.moc"
