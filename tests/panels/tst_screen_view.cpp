// The screen picture says when it is not live: no new frame for a while, or a link healing.
#include <QtTest>

#include "panels/CScreenView.h"

class TestScreenView : public QObject {
    Q_OBJECT
  private slots:
    void staleFrameIsMarkedAndClearedByTheNext();
    void overlayWinsOverTheStaleMark();
};

namespace {

QImage Frame() {
    QImage image(80, 60, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    return image;
}

}  // namespace

void TestScreenView::staleFrameIsMarkedAndClearedByTheNext() {
    CScreenView view(QSize(80, 60));
    view.SetStaleAfter(1000, 50);  // 1 s instead of 3 s
    view.show();
    view.PostFrame(Frame());
    QTRY_COMPARE(view.framesShown(), 1);
    // Not streaming: a frame never ages.
    QTest::qWait(1200);
    QVERIFY(view.Mark().isEmpty());
    // Streaming: after a while without a frame the picture says how old it is.
    view.SetLive(true);
    QTRY_VERIFY_WITH_TIMEOUT(view.Mark().startsWith(QStringLiteral("last frame 1 s ago")), 2000);
    const QImage shown = view.grab().toImage();
    QVERIFY2(shown.pixelColor(2, 2).value() < Frame().pixelColor(2, 2).value(), "dimmed");
    view.PostFrame(Frame());
    QTRY_VERIFY(view.Mark().isEmpty());
    // Stopping clears the mark at once.
    QTRY_VERIFY_WITH_TIMEOUT(!view.Mark().isEmpty(), 2000);
    view.SetLive(false);
    QVERIFY(view.Mark().isEmpty());
}

void TestScreenView::overlayWinsOverTheStaleMark() {
    CScreenView view(QSize(80, 60));
    view.show();
    view.PostFrame(Frame());
    QTRY_COMPARE(view.framesShown(), 1);
    view.SetOverlay(QStringLiteral("Link lost \u2014 reconnecting (attempt 2)"));
    QCOMPARE(view.Mark(), QStringLiteral("Link lost \u2014 reconnecting (attempt 2)"));
    view.SetOverlay(QString());
    QVERIFY(view.Mark().isEmpty());
}

QTEST_MAIN(TestScreenView)
#include "tst_screen_view.moc"
