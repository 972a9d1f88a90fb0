// The skin and its keys as a user meets them: a key's clickable shape is its image's
// non-white pixels; the built-in images at their listed sizes, artwork dropped in by the user,
// one shared image for every thread; the knob (CKnobButton) turns by steps however it is moved.
#include <QDir>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>
#include <future>

#include "widgets/BitmapToRegion.h"
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

// One colour with the given pixels set.
QImage Filled(int w, int h, std::initializer_list<std::tuple<int, int, QRgb>> pixels = {},
              QColor colour = Qt::white, QImage::Format format = QImage::Format_RGB32) {
    QImage image(w, h, format);
    image.fill(colour);
    for (const auto& [x, y, rgb] : pixels) {
        image.setPixel(x, y, rgb);
    }
    return image;
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
    void bitmapToRegionIsEveryPixelThatIsNotPureWhite() {
        QImage indexed(6, 6, QImage::Format_Indexed8);
        indexed.setColorTable({qRgb(255, 255, 255), qRgb(20, 90, 200)});
        indexed.fill(0);
        indexed.setPixel(4, 1, 1);
        QImage stripes = Filled(2000, 3);  // 3,000 runs: a chunk of them ends inside row 1
        QRegion columns;
        for (int x = 0; x < 2000; x += 2) {
            columns += QRect(x, 0, 1, 3);
            for (int y = 0; y < 3; ++y) {
                stripes.setPixel(x, y, qRgb(40, 40, 40));
            }
        }
        const std::tuple<const char*, QImage, QRegion> cases[] = {
            {"all white", Filled(40, 30), QRegion()},
            {"one channel off",
             Filled(10, 10, {{3, 4, qRgb(255, 255, 254)}, {9, 9, qRgb(254, 255, 255)}}),
             QRegion(3, 4, 1, 1) + QRegion(9, 9, 1, 1)},
            // The alpha byte is not looked at.
            {"alpha",
             Filled(8, 8, {{2, 2, qRgba(255, 255, 255, 0)}, {1, 6, qRgba(10, 20, 30, 0)}},
                    Qt::white, QImage::Format_ARGB32),
             QRegion(1, 6, 1, 1)},
            {"runs split by white", Filled(7, 1, {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {6, 0, 0}}),
             QRegion(0, 0, 3, 1) + QRegion(6, 0, 1, 1)},
            {"indexed", indexed, QRegion(4, 1, 1, 1)},
            {"many chunks", stripes, columns}};
        for (const auto& [name, image, expected] : cases) {
            const auto region = qv::BitmapToRegion(image);
            QVERIFY2(region && region->xored(expected).isEmpty(), name);
        }
        QVERIFY(!qv::BitmapToRegion(QImage()).has_value());
    }

    // Loaded side by side with other threads, each the one shared image. White only where a
    // hard key's rounded moulding falls through; pressing or disabling one keeps its shape.
    void everySkinImageAtItsSize() {
        qv::ClearSkinCache();
        const auto load = [] {
            std::vector<qint64> keys;
            for (const qv::skin::Entry& e : qv::skin::Catalogue()) {
                keys.push_back(qv::SkinImage(e.number).cacheKey());
            }
            return keys;
        };
        std::vector<std::future<std::vector<qint64>>> loads;
        for (int i = 0; i < 4; ++i) {
            loads.push_back(std::async(std::launch::async, load));
        }
        QVERIFY(qv::skin::Catalogue().size() > 380u);
        for (const qv::skin::Entry& e : qv::skin::Catalogue()) {
            const QImage image = qv::SkinImage(e.number);
            const auto white = [&](int x, int y) {
                return (image.pixel(x, y) & 0xFFFFFFu) == 0xFFFFFFu;
            };
            const bool masked =
                e.kind == qv::skin::Kind::Key && e.panel == qv::skin::Panel::HardKey;
            const bool whole = qv::BitmapToRegion(image)->xored(QRegion(image.rect())).isEmpty();
            QCOMPARE(std::tuple(e.number, image.size(), whole, white(0, 0),
                                white(e.width / 2, e.height / 2)),
                     std::tuple(e.number, QSize(e.width, e.height), !masked, masked, false));
        }
        const auto mine = load();
        for (auto& f : loads) {
            QCOMPARE(f.get(), mine);
        }
        QVERIFY(qv::SkinImage(9999).isNull());
        for (const auto& key : qv::skin::kHardKeys) {
            const auto& ids = key.sets[0].ids;
            const auto normal = qv::BitmapToRegion(qv::SkinImage(ids[0]));
            for (const int id : {ids[1], ids[3]}) {
                const bool same = normal->xored(*qv::BitmapToRegion(qv::SkinImage(id))).isEmpty();
                QCOMPARE(std::pair(id, same), std::pair(id, true));
            }
        }
    }

    void artworkInTheOverrideFolderComesFirst() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(Filled(3, 2).save(QDir(dir.path()).filePath("245.png")));
        const QSize builtIn[] = {qv::SkinImage(245).size(), qv::SkinImage(246).size()};
        QCOMPARE(setenv("QVREMOTE_SKIN_DIR", qPrintable(dir.path()), 1), 0);
        qv::ClearSkinCache();
        QCOMPARE(qv::SkinImage(245).size(), QSize(3, 2));
        QCOMPARE(qv::SkinImage(246).size(), builtIn[1]);  // not dropped in: the built-in one
        unsetenv("QVREMOTE_SKIN_DIR");
        qv::ClearSkinCache();
        QCOMPARE(qv::SkinImage(245).size(), builtIn[0]);
    }

    // Through the window, so Qt picks the widget under the pointer as it does for a user: a white
    // corner is the panel's, the middle the key's; an all-white key takes no click; a new image
    // set changes picture and shape. Loading alone does not resize: the first draw takes the
    // image's size where the key stands; with nothing loadable a key keeps size and shape. A held
    // PC key reloads the key's set on every press and release: it holds the skin's shared image,
    // never a copy per load.
    void shapedKeys() {
        Panel panel;
        CTqButton round(&panel), blank(&panel), key(&panel), state(&panel);
        QImage disc = Filled(60, 60);
        QPainterPath circle;
        circle.addEllipse(disc.rect());
        QPainter(&disc).fillPath(circle, Qt::darkGray);
        round.move(50, 50);
        round.SetImages({disc, QImage(), QImage(), QImage()});
        blank.move(150, 20);
        blank.SetImages({Filled(50, 40), QImage(), QImage(), QImage()});
        key.setGeometry(122, 117, 20, 20);
        const auto& ids = qv::skin::kHardKeys[24].sets[0].ids;
        key.LoadBitmaps(ids[0], 9990, 9991, 9992);  // only normal exists
        QCOMPARE(key.size(), QSize(20, 20));
        QSignalSpy clicked(&round, &QAbstractButton::clicked);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        QTRY_COMPARE(round.size(), QSize(60, 60));  // the image's size, at the first draw
        QTRY_VERIFY(blank.testAttribute(Qt::WA_TransparentForMouseEvents));
        QWindow* window = panel.windowHandle();
        QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(52, 52));
        QTRY_COMPARE(panel.presses, 1);
        QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(80, 80));
        QTRY_COMPARE(clicked.count(), 1);
        QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(170, 40));
        QTRY_COMPARE(panel.presses, 2);
        round.SetImages({Filled(80, 30, {}, Qt::darkGreen), QImage(), QImage(), QImage()});
        round.update();
        QTRY_COMPARE(round.size(), QSize(80, 30));
        QTRY_COMPARE(panel.childAt(QPoint(52, 52)), &round);  // square now: the corner is the key
        QCOMPARE(round.grab().toImage().pixelColor(2, 2), QColor(Qt::darkGreen));
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
        // Disabled comes first, then held, then focus; a state without its image falls through.
        panel.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&panel));
        state.setFocusPolicy(Qt::StrongFocus);
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
                images[i] = std::strchr(loaded, "npfd"[i]) ? Filled(10 + int(i), 10, {}, Qt::black)
                                                           : QImage();
            }
            state.SetImages(images);
            state.setEnabled(enabled);
            focus ? state.setFocus() : state.clearFocus();
            QTRY_COMPARE(state.hasFocus(), focus);
            state.setDown(down);  // after the focus: losing it lets the key up
            QCOMPARE(std::tuple(loaded, enabled, down, focus, state.ChosenSlot()),
                     std::tuple(loaded, enabled, down, focus, slot));
        }
    }

    // Bearings and positions; every position crossed is one command in the direction turned, one
    // step across the top. Turning goes on until the next release on the knob, wherever the
    // button went up between.
    void knobTurns() {
        // clang-format off
        const int bearings[][3] = {  // x, y in the knob, degrees clockwise from straight up
            {70, 70, 180}, {70, 69, 0}, {140, 0, 45}, {0, 140, 225}, {69, 0, 359}, {-500, 70, 270}};
        const int positions[][2] = {  // degrees, position
            {14, 1}, {15, 2}, {44, 2}, {45, 3}, {344, 12}, {345, 1}};
        // clang-format on
        // Angles moved to: "KEYP:RIGH" and "KEYP:LEFT" sent, the position reached.
        const std::tuple<const char*, std::vector<int>, int, int, int> rows[] = {
            {"350 to 10 stays", {350, 10}, 0, 0, 1},
            {"1 to 12 to 1", {330, 0}, 1, 1, 1},
            {"2 to 7 at once", {30, 180}, 6, 0, 7},
            {"12 to 2 the long way", {330, 30}, 0, 11, 2},
            {"2 to 12 the long way", {30, 330}, 11, 0, 12}};
        for (const auto& [name, angles, right, left, position] : rows) {
            Knob r;
            for (int a : angles) {
                r.knob->UpdatePosition(a);
            }
            QCOMPARE(std::tuple(name, r.panel.Count("KEYP:RIGH"), r.panel.Count("KEYP:LEFT"),
                                int(r.panel.sent.size()), r.knob->Position()),
                     std::tuple(name, right, left, right + left, position));
            QCOMPARE(r.knob->Image(CSkinButton::kNormal).cacheKey(),
                     qv::SkinImage(kFrames[std::size_t(position)]).cacheKey());
        }
        Knob k;
        for (const auto& [x, y, degrees] : bearings) {
            QCOMPARE(k.knob->AngleFromPoint(x, y), degrees);
        }
        for (const auto& [degrees, position] : positions) {
            QCOMPARE(CKnobButton::PositionFromAngle(degrees), position);
        }
        k.panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&k.panel));
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
        // The centre is that of the square in the top-left corner.
        k.knob->resize(140, 120);
        k.knob->SetImages(kFrames);
        QCOMPARE(k.knob->Center(), QPoint(60, 60));
    }
};

QTEST_MAIN(KeysTest)
#include "tst_keys.moc"
