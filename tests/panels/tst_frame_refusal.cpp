// A streaming window against an instrument whose screens turn hostile or broken: each bad
// screen is refused and logged, the last good frame stays up, and streaming goes on.
#include <sys/stat.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QtTest>

#include "panels/CPanelSessionView.h"
#include "panels/CScreenView.h"
#include "panels/hardkey/CRemoteDlgRook.h"
#include "resources/ids.h"
#include "session/ActivityLog.h"
#include "sim/SimServer.h"
#include "tests/panels/BadJpegs.h"
#include "tests/panels/PanelRig.h"

class TestFrameRefusal : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void init();
    void cleanup();
    void badScreensKeepTheLastGoodFrame();

  private:
    static int Refusals();

    PanelRig rig_;
};

void TestFrameRefusal::initTestCase() {
    QVERIFY(rig_.Prepare());
    // Frame files go to the temporary folder: a private one here.
    const QString temp = rig_.dir.filePath("tmp");
    QVERIFY(QDir().mkpath(temp));
    qputenv("TMPDIR", temp.toLocal8Bit());
}

void TestFrameRefusal::init() {
    QVERIFY(rig_.Reset(800, 480));
}

void TestFrameRefusal::cleanup() {
    rig_.Release();
}

int TestFrameRefusal::Refusals() {
    QFile log(QString::fromStdString(qv::ActivityLog::Instance().Path()));
    if (!log.open(QIODevice::ReadOnly)) {
        return -1;
    }
    return static_cast<int>(log.readAll().count("   Image Load Failed\r\n"));
}

// One streaming session meets each bad screen in turn.
void TestFrameRefusal::badScreensKeepTheLastGoodFrame() {
    namespace bad = qv::badjpeg;
    const std::pair<const char*, QByteArray> screens[] = {
        {"progressive bomb", bad::ProgressiveBomb(800, 480, 10000)},
        {"60000x60000 header", bad::HugeHeader(60000, 60000)},
        {"truncated", bad::Truncated(800, 480)},
        {"PNG", bad::Encode(bad::Screen(800, 480), "png")},
    };
    auto panel = std::make_unique<CRemoteDlgRook>(*rig_.store, nullptr, rig_.sim->port());
    panel->show();
    panel->Command(qv::ids::kCmdConnect);
    QTRY_COMPARE(panel->view().PaneText(1), QStringLiteral("Connected"));
    panel->Command(qv::ids::kCmdStart);
    CScreenView& screen = panel->screen();
    QTRY_VERIFY_WITH_TIMEOUT(screen.framesShown() >= 1, 5000);
    QCOMPARE(Refusals(), 0);

    auto& instrument = rig_.sim->instrument();
    int shown = -1;
    QImage last;
    for (const auto& [name, bytes] : screens) {
        const int before = Refusals();
        instrument.SetScreenOverride(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
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

    // The worker is free at once: good screens show again.
    instrument.SetScreenOverride(std::nullopt);
    QTRY_VERIFY_WITH_TIMEOUT(screen.framesShown() > shown, 5000);

    // The frame file holding the last screen is the session's alone.
    const QStringList frames = QDir(qEnvironmentVariable("TMPDIR")).entryList(QDir::Files);
    QVERIFY(!frames.isEmpty());
    struct stat st {};
    const QString frame = QDir(qEnvironmentVariable("TMPDIR")).filePath(frames.last());
    QCOMPARE(::lstat(QFile::encodeName(frame).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0600u);
}

QTEST_MAIN(TestFrameRefusal)
#include "tst_frame_refusal.moc"
