// The shaped key (CTqButton) and the knob (CKnobButton) as a user meets them: clicks go where
// the picture is, the image follows the state, the knob turns by steps however it is moved.
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSignalSpy>
#include <QTest>
#include <cstring>

#include "widgets/CKnobButton.h"
#include "widgets/CRemoteDlg.h"
#include "widgets/CTqButton.h"
#include "widgets/SkinCatalogue.h"
#include "widgets/SkinLibrary.h"

namespace {

// A panel that counts the presses reaching it and records what the knob sends.
class Panel : public CRemoteDlg {
  public:
    Panel() : CRemoteDlg(241) { resize(300, 240); }
    void SendKey(std::string text) override { sent.push_back(std::move(text)); }
    int Count(const std::string& text) const {
        return static_cast<int>(std::count(sent.begin(), sent.end(), text));
    }
    std::vector<std::string> sent;
    int presses = 0;

  protected:
    void mousePressEvent(QMouseEvent* e) override {
        ++presses;
        e->accept();
    }
};

QImage Solid(int w, int h, QColor colour) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

void Show(QWidget& w) {
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
}

constexpr QPoint kKnobAt(40, 30);
const auto kFrames = qv::skin::kKnobs[0].Frames();  // the hard-key knob, 140 x 140

// A panel point at a bearing, 50 pixels out from the knob's centre (70, 70).
QPoint At(int degrees) {
    const double a = degrees * 3.14159265358979 / 180.0;
    return kKnobAt + QPoint(70 + static_cast<int>(std::lround(50 * std::sin(a))),
                            70 - static_cast<int>(std::lround(50 * std::cos(a))));
}

struct Knob {
    Panel panel;
    CKnobButton* knob = new CKnobButton(&panel);
    Knob() {
        knob->setGeometry(QRect(kKnobAt, QSize(140, 140)));
        knob->SetImages(kFrames);
        knob->LoadPositionImages();
        knob->SetOwner(&panel);
    }
};

}  // namespace

class KeysTest : public QObject {
    Q_OBJECT
  private slots:
    // Disabled comes first, then held, then focus; a state without its image falls through.
    void keyChoosesItsImage() {
        QWidget window;
        CTqButton key(&window);
        key.setFocusPolicy(Qt::StrongFocus);
        Show(window);
        window.activateWindow();
        const int n = CTqButton::kNormal, p = CTqButton::kPressed, f = CTqButton::kFocus;
        // Slots with an image (n p f d), enabled, held, focused: the slot shown.
        const std::tuple<const char*, bool, bool, bool, int> rows[] = {
            {"npfd", true, true, false, p},  {"npfd", true, false, true, f},
            {"npfd", true, true, true, p},   {"npfd", false, true, false, CTqButton::kDisabled},
            {"npf", false, false, false, n}, {"nfd", true, true, true, f},
            {"d", true, false, false, -1}};
        for (const auto& [loaded, enabled, down, focus, slot] : rows) {
            std::array<QImage, 4> images;
            for (std::size_t i = 0; i < 4; ++i) {
                images[i] =
                    std::strchr(loaded, "npfd"[i]) ? Solid(10 + int(i), 10, Qt::black) : QImage();
            }
            key.SetImages(images);
            key.setEnabled(enabled);
            focus ? key.setFocus() : key.clearFocus();
            QTRY_COMPARE(key.hasFocus(), focus);
            key.setDown(down);  // after the focus: losing it lets the key up
            QCOMPARE(std::tuple(loaded, enabled, down, focus, key.ChosenSlot()),
                     std::tuple(loaded, enabled, down, focus, slot));
        }
    }

    // Through the window, so Qt picks the widget under the pointer as it does for a user: a white
    // corner is the panel's, the middle the key's; an all-white key takes no click; a new image
    // set changes picture and shape.
    void clicksGoWhereThePictureIs() {
        Panel panel;
        CTqButton round(&panel), blank(&panel);
        QImage disc = Solid(60, 60, Qt::white);
        QPainterPath circle;
        circle.addEllipse(disc.rect());
        QPainter(&disc).fillPath(circle, Qt::darkGray);
        round.move(50, 50);
        round.SetImages({disc, QImage(), QImage(), QImage()});
        blank.move(150, 20);
        blank.SetImages({Solid(50, 40, Qt::white), QImage(), QImage(), QImage()});
        QSignalSpy clicked(&round, &QAbstractButton::clicked);
        QSignalSpy blankClicked(&blank, &QAbstractButton::clicked);
        Show(panel);
        QTRY_COMPARE(round.size(), QSize(60, 60));  // the image's size, at the first draw
        QTRY_VERIFY(blank.testAttribute(Qt::WA_TransparentForMouseEvents));
        QWindow* window = panel.windowHandle();
        QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(52, 52));
        QTRY_COMPARE(panel.presses, 1);
        QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(80, 80));
        QTRY_COMPARE(clicked.count(), 1);
        QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(170, 40));
        QTRY_COMPARE(panel.presses, 2);
        QCOMPARE(blankClicked.count(), 0);
        round.SetImages({Solid(80, 30, Qt::darkGreen), QImage(), QImage(), QImage()});
        round.update();
        QTRY_COMPARE(round.size(), QSize(80, 30));
        QTRY_COMPARE(panel.childAt(QPoint(52, 52)), &round);  // square now: the corner is the key
        QCOMPARE(round.grab().toImage().pixelColor(2, 2), QColor(Qt::darkGreen));
    }

    // Loading alone does not resize; the first draw takes the image's size where the key stands.
    // With nothing loadable the key keeps size and shape. A held PC key reloads the key's set
    // on every press and release: it holds the skin's shared image, never a copy per load.
    void keyTakesItsImageAndSharesTheSkin() {
        Panel panel;
        CTqButton key(&panel);
        key.setGeometry(122, 117, 20, 20);
        const auto& ids = qv::skin::kHardKeys[24].sets[0].ids;
        key.LoadBitmaps(ids[0], 9990, 9991, 9992);  // only normal exists
        QCOMPARE(key.size(), QSize(20, 20));
        Show(panel);
        const QSize size = qv::SkinImage(ids[0]).size();
        QTRY_COMPARE(key.geometry(), QRect(QPoint(122, 117), size));
        const QRegion shape = key.mask();
        QVERIFY(!shape.isEmpty());
        key.LoadBitmaps(9990, 9991, 0, 0);
        key.repaint();
        QCOMPARE(std::pair(key.size(), key.mask()), std::pair(size, shape));
        for (int i = 0; i < 100; ++i) {
            key.LoadBitmaps(ids[1], ids[1], ids[0], ids[3]);
            key.LoadBitmaps(ids[0], ids[1], ids[0], ids[3]);
        }
        QCOMPARE(key.Image(CTqButton::kNormal).cacheKey(), qv::SkinImage(ids[0]).cacheKey());
    }

    // Bearings and positions; every position crossed is one command in the direction turned,
    // one step across the top.
    void knobMoves() {
        // clang-format off
        const int bearings[][3] = {  // x, y in the knob, degrees clockwise from straight up
            {70, 70, 180}, {70, 69, 0}, {140, 0, 45}, {0, 140, 225}, {69, 0, 359}, {-500, 70, 270}};
        const int positions[][2] = {  // degrees, position
            {14, 1}, {15, 2}, {44, 2}, {45, 3}, {344, 12}, {345, 1}};
        // clang-format on
        CKnobButton knob;
        knob.resize(140, 140);
        knob.SetImages(kFrames);
        for (const auto& [x, y, degrees] : bearings) {
            QCOMPARE(knob.AngleFromPoint(x, y), degrees);
        }
        for (const auto& [degrees, position] : positions) {
            QCOMPARE(CKnobButton::PositionFromAngle(degrees), position);
        }
        // The centre is that of the square in the top-left corner.
        knob.resize(140, 120);
        knob.SetImages(kFrames);
        QCOMPARE(knob.Center(), QPoint(60, 60));
        // Angles moved to: "KEYP:RIGH" and "KEYP:LEFT" sent, the position reached.
        const std::tuple<const char*, std::vector<int>, int, int, int> rows[] = {
            {"350 to 10 stays", {350, 10}, 0, 0, 1},
            {"1 to 12 to 1", {330, 0}, 1, 1, 1},
            {"2 to 7 at once", {30, 180}, 6, 0, 7},
            {"12 to 2 the long way", {330, 30}, 0, 11, 2},
            {"2 to 12 the long way", {30, 330}, 11, 0, 12}};
        for (const auto& [name, angles, right, left, position] : rows) {
            Knob k;
            for (int a : angles) {
                k.knob->UpdatePosition(a);
            }
            QCOMPARE(std::tuple(name, k.panel.Count("KEYP:RIGH"), k.panel.Count("KEYP:LEFT"),
                                int(k.panel.sent.size()), k.knob->Position()),
                     std::tuple(name, right, left, right + left, position));
            QCOMPARE(k.knob->Image(CSkinButton::kNormal).cacheKey(),
                     qv::SkinImage(kFrames[std::size_t(position)]).cacheKey());
        }
    }

    // Turning goes on until the next release on the knob, wherever the button went up between.
    void knobTurnsUntilTheNextReleaseOnIt() {
        Knob k;
        Show(k.panel);
        QSignalSpy clicked(k.knob, &QAbstractButton::clicked);
        QWindow* w = k.panel.windowHandle();
        QTest::mouseMove(w, At(90));
        QVERIFY(k.panel.sent.empty());  // moves without a press do nothing
        QTest::mousePress(w, Qt::LeftButton, {}, At(0));
        QVERIFY(k.knob->Turning() && !k.knob->isDown());  // turns, never pressed in
        QTest::mouseMove(w, At(90));
        QCOMPARE(k.panel.Count("KEYP:RIGH"), 3);
        // Drag out and let go outside: the knob never sees that release, and still turns when the
        // pointer comes back without a button.
        QTest::mouseMove(w, QPoint(250, 220));
        QTest::mouseRelease(w, Qt::LeftButton, {}, QPoint(250, 220));
        QVERIFY(k.knob->Turning());
        QTest::mouseMove(w, At(180));
        QCOMPARE(k.panel.Count("KEYP:RIGH"), 6);
        QCOMPARE(k.knob->Position(), 7);
        // The next release on the knob ends it.
        QTest::mousePress(w, Qt::LeftButton, {}, At(180));
        QTest::mouseRelease(w, Qt::LeftButton, {}, At(180));
        QVERIFY(!k.knob->Turning() && !k.knob->isDown());
        QTest::mouseMove(w, At(270));
        QCOMPARE(k.panel.sent.size(), std::size_t{6});
        QVERIFY(clicked.isEmpty() && !k.knob->hasFocus());
        // A wheel notch up is a step clockwise, down one back; a fine wheel steps per whole notch.
        const auto wheel = [&](int delta) {
            const QPointF at(70, 70);
            QWheelEvent e(at, k.knob->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(k.knob, &e);
        };
        k.panel.sent.clear();
        for (const int delta : {120, -240, 60}) {
            wheel(delta);
        }
        QCOMPARE(k.panel.sent, (std::vector<std::string>{"KEYP:RIGH", "KEYP:LEFT", "KEYP:LEFT"}));
        wheel(60);
        QCOMPARE(k.panel.sent.size(), std::size_t{4});
        QCOMPARE(k.knob->Position(), 7);
        // Disabled (remote control stopped): no wheel, no drag.
        k.knob->setEnabled(false);
        wheel(120);
        QTest::mousePress(w, Qt::LeftButton, {}, At(0));
        QTest::mouseMove(w, At(90));
        QTest::mouseRelease(w, Qt::LeftButton, {}, At(90));
        QCOMPARE(k.panel.sent.size(), std::size_t{4});
        QVERIFY(!k.knob->Turning() && k.knob->ChosenSlot() == CSkinButton::kDisabled);
    }
};

QTEST_MAIN(KeysTest)
#include "tst_keys.moc"
