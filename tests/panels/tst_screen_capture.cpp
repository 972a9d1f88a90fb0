// Keeping what the instrument shows, on both panels against the simulator over real TCP:
// saved screens are the bytes the instrument sent, the clipboard gets the picture, a
// recording plays back through the replay player byte for byte and ends with the stream or
// a full disk, files are private and never written through a link; the live rate is stored
// and brings a refresh after a key.
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMimeData>
#include <QRegularExpression>
#include <QSettings>
#include <QtTest>
#include <algorithm>
#include <cerrno>
#include <ctime>

#include "panels/CPanelSessionView.h"
#include "panels/CScreenView.h"
#include "panels/ImageServices.h"
#include "panels/PaneNote.h"
#include "panels/ScreenCapture.h"
#include "panels/hardkey/CRemoteDlgRook.h"
#include "panels/softkey/CRemoteDlgWren.h"
#include "panels/softkey/ReplayPlayer.h"
#include "resources/ids.h"
#include "session/ActivityLog.h"
#include "sim/SimServer.h"
#include "tests/panels/PanelRig.h"

namespace ids = qv::ids;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes ReadAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QByteArray b = f.readAll();
    return {b.begin(), b.end()};
}

mode_t Mode(const QString& path) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0) {
        return 0;
    }
    return st.st_mode & 07777;
}

QStringList Jpegs(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral("*.jpg")}, QDir::Files | QDir::System,
                                  QDir::Name);
}

// Where in the simulator's served screens these bytes are; -1 when nowhere.
int ServedIndex(const std::vector<Bytes>& served, const Bytes& bytes) {
    const auto it = std::find(served.begin(), served.end(), bytes);
    return it == served.end() ? -1 : static_cast<int>(it - served.begin());
}

// Either panel, seen through what both share.
struct Panel {
    std::unique_ptr<CRemoteDlg> window;
    PanelSession* panel = nullptr;

    void Command(int id) {
        if (auto* rook = qobject_cast<CRemoteDlgRook*>(window.get())) {
            rook->Command(id);
        } else if (auto* wren = qobject_cast<CRemoteDlgWren*>(window.get())) {
            wren->Command(id);
        }
    }
    qv::SessionController& session() { return panel->session(); }
    ScreenCapture& capture() { return panel->capture(); }
    QString Pane0() const { return panel->view().PaneText(0); }
    QAction* Action(int id) const { return panel->Action(id); }
};

}  // namespace

class TestScreenCapture : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void init();
    void cleanup();

    void paneZeroLayers();
    void menuItems();
    void saveWritesTheReceivedBytes_data();
    void saveWritesTheReceivedBytes();
    void copyPutsThePictureOnTheClipboard();
    void recordThenReplayPlaysTheSameBytes();
    void recordingEndsWithTheStream_data();
    void recordingEndsWithTheStream();
    void fullDiskStopsRecordingKeepingWhatWasWritten();
    void unusableFolderSaysWhy();
    void plantedLinkIsNeverWrittenThrough();
    void liveRateIsStoredAndRefreshesAfterAKey();

  private:
    Panel Make(bool softKey);
    void GoLive(Panel& p);
    // Waits until the picture shows n more frames.
    void WaitFrames(Panel& p, int n);

    PanelRig rig_;
    QString pictures_;
};

void TestScreenCapture::initTestCase() {
    QVERIFY(rig_.Prepare());
    // Notes write the home folder as "~"; the test's folders lie outside this one.
    const QString home = rig_.dir.filePath(QStringLiteral("home"));
    QVERIFY(QDir().mkpath(home));
    qputenv("HOME", QFile::encodeName(home));
}

void TestScreenCapture::init() {
    const bool hard = QTest::currentDataTag() != nullptr &&
                      QByteArray(QTest::currentDataTag()).startsWith("hard");
    QVERIFY(hard ? rig_.Reset(800, 480) : rig_.Reset());
    rig_.sim->instrument().SetModel(hard ? "QV364C" : "QV392B");
    rig_.sim->instrument().KeepServedScreens(200);
    pictures_ = rig_.dir.filePath(QStringLiteral("pictures-%1").arg(QTest::currentTestFunction()));
    QDir(pictures_).removeRecursively();
    qputenv("XDG_PICTURES_DIR", QFile::encodeName(pictures_));
}

void TestScreenCapture::cleanup() {
    rig_.Release();
}

Panel TestScreenCapture::Make(bool softKey) {
    Panel p;
    if (softKey) {
        auto* w = new CRemoteDlgWren(*rig_.store, nullptr, rig_.sim->port());
        p.window.reset(w);
        p.panel = &w->panelSession();
    } else {
        auto* w = new CRemoteDlgRook(*rig_.store, nullptr, rig_.sim->port());
        w->session().SetCommandPause(std::chrono::milliseconds(0));
        p.window.reset(w);
        p.panel = &w->panelSession();
    }
    p.window->show();
    p.window->activateWindow();
    if (!QTest::qWaitForWindowActive(p.window.get())) {
        qWarning("panel not active");
    }
    return p;
}

void TestScreenCapture::GoLive(Panel& p) {
    p.Command(ids::kCmdConnect);
    QTRY_COMPARE(p.panel->view().PaneText(1), QStringLiteral("Connected"));
    p.Command(ids::kCmdStart);
    QVERIFY(p.session().Streaming());
    // The "Connected" box took the focus; the shortcuts are the window's.
    QTRY_VERIFY(QApplication::activeModalWidget() == nullptr);
    p.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(p.window.get()));
}

void TestScreenCapture::WaitFrames(Panel& p, int n) {
    const int target = p.panel->screen().framesShown() + n;
    QTRY_VERIFY_WITH_TIMEOUT(p.panel->screen().framesShown() >= target, 10000);
}

// The session's text underneath, the recording's mark before it, a note over both for its
// time.
void TestScreenCapture::paneZeroLayers() {
    QString shown;
    PaneNote pane([&](const QString& t) { shown = t; });
    pane.SetBase(QStringLiteral("Link steady"));
    QCOMPARE(shown, QStringLiteral("Link steady"));
    pane.SetMark(QStringLiteral("REC 3"));
    QCOMPARE(shown, QStringLiteral("REC 3   Link steady"));
    pane.Show(QStringLiteral("Saved to ~/x.jpg"), 1);
    QCOMPARE(shown, QStringLiteral("Saved to ~/x.jpg"));
    // The session may change its text meanwhile; it shows when the note is gone.
    pane.SetBase(QStringLiteral("Link slow"));
    QCOMPARE(shown, QStringLiteral("Saved to ~/x.jpg"));
    QTRY_COMPARE_WITH_TIMEOUT(shown, QStringLiteral("REC 3   Link slow"), 3000);
    pane.SetMark({});
    QCOMPARE(shown, QStringLiteral("Link slow"));
    pane.SetBase(QStringLiteral(" "));
    pane.SetMark(QStringLiteral("REC 0"));
    QCOMPARE(shown, QStringLiteral("REC 0"));
}

void TestScreenCapture::menuItems() {
    for (const bool soft : {false, true}) {
        Panel p = Make(soft);
        const struct {
            int id;
            const char* text;
            const char* keys;
        } items[] = {
            {ids::kCmdSaveScreen, "Save screen\u2026", "Ctrl+S"},
            {ids::kCmdCopyScreen, "Copy screen", "Ctrl+C"},
            {ids::kCmdRecord, "Record", ""},
            {ids::kCmdLiveNormal, "Normal", ""},
            {ids::kCmdLiveResponsive, "Responsive", ""},
            {ids::kCmdLiveFast, "Fast", ""},
        };
        p.panel->UpdateMenu(false);
        for (const auto& item : items) {
            QAction* a = p.Action(item.id);
            QVERIFY2(a != nullptr, item.text);
            QCOMPARE(a->text(), QString::fromUtf8(item.text));
            QCOMPARE(a->shortcut().toString(), QString::fromLatin1(item.keys));
        }
        auto* live = qobject_cast<QMenu*>(p.Action(ids::kCmdLiveNormal)->parent());
        QVERIFY(live != nullptr);
        QCOMPARE(live->title(), QStringLiteral("Live rate"));
        // Normal is the default; Record only while frames come.
        QVERIFY(p.Action(ids::kCmdLiveNormal)->isChecked());
        QVERIFY(!p.Action(ids::kCmdLiveFast)->isChecked());
        QVERIFY(!p.Action(ids::kCmdRecord)->isEnabled());
        p.Command(ids::kCmdRecord);
        QVERIFY(!p.capture().Recording());
        GoLive(p);
        p.panel->UpdateMenu(false);
        QVERIFY(p.Action(ids::kCmdRecord)->isEnabled());
        QVERIFY(!p.Action(ids::kCmdRecord)->isChecked());
    }
}

void TestScreenCapture::saveWritesTheReceivedBytes_data() {
    QTest::addColumn<bool>("soft");
    QTest::addColumn<QString>("model");
    QTest::newRow("hard") << false << "QV364C";
    QTest::newRow("soft") << true << "QV392B";
}

// Ctrl+S writes the frame on screen as the instrument sent it, named by model and time, while
// streaming and after Stop; before any frame it says there is none.
void TestScreenCapture::saveWritesTheReceivedBytes() {
    QFETCH(bool, soft);
    QFETCH(QString, model);
    Panel p = Make(soft);
    QTest::keyClick(p.window.get(), Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(p.Pane0(), QStringLiteral("No screen to save yet"));
    QVERIFY(Jpegs(pictures_ + QStringLiteral("/QVRemote")).isEmpty());

    GoLive(p);
    WaitFrames(p, 2);
    QTest::keyClick(p.window.get(), Qt::Key_S, Qt::ControlModifier);
    const QString folder = pictures_ + QStringLiteral("/QVRemote");
    QStringList files = Jpegs(folder);
    QCOMPARE(files.size(), 1);
    QVERIFY2(QRegularExpression(QStringLiteral("^%1_\\d{8}_\\d{6}\\.jpg$").arg(model))
                 .match(files[0])
                 .hasMatch(),
             qPrintable(files[0]));
    const Bytes saved = ReadAll(folder + QLatin1Char('/') + files[0]);
    QVERIFY(!saved.empty());
    QCOMPARE(saved, *p.capture().LastFrame());
    QVERIFY(ServedIndex(rig_.sim->instrument().ServedScreens(), saved) >= 0);
    QCOMPARE(Mode(folder + QLatin1Char('/') + files[0]), mode_t(0600));
    QCOMPARE(Mode(folder), mode_t(0700));
    QVERIFY2(p.Pane0().startsWith(QStringLiteral("Saved to ")) && p.Pane0().endsWith(files[0]),
             qPrintable(p.Pane0()));

    // After Stop the last frame is still there to save; a second save keeps the first.
    p.Command(ids::kCmdStop);
    QTRY_COMPARE(p.session().responseReady().load(), 1);
    QApplication::processEvents();
    p.Command(ids::kCmdSaveScreen);
    files = Jpegs(folder);
    QCOMPARE(files.size(), 2);
    for (const QString& f : files) {
        QVERIFY(ServedIndex(rig_.sim->instrument().ServedScreens(),
                            ReadAll(folder + QLatin1Char('/') + f)) >= 0);
    }
}

void TestScreenCapture::copyPutsThePictureOnTheClipboard() {
    Panel p = Make(true);
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(p.window.get(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(p.Pane0(), QStringLiteral("No screen to copy yet"));
    GoLive(p);
    WaitFrames(p, 1);
    QTest::keyClick(p.window.get(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(p.Pane0(), QStringLiteral("Screen copied"));
    const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
    QVERIFY(mime != nullptr);
    const Bytes jpeg = *p.capture().LastFrame();
    const QByteArray raw = mime->data(QStringLiteral("image/jpeg"));
    QCOMPARE(Bytes(raw.begin(), raw.end()), jpeg);
    const QImage image = qvariant_cast<QImage>(mime->imageData());
    const auto decoded = qv::ImageServices::DecodeBytes(jpeg.data(), jpeg.size());
    QVERIFY(decoded.has_value());
    QCOMPARE(image.size(), QSize(800, 600));
    QCOMPARE(image.convertToFormat(QImage::Format_RGB32),
             decoded->convertToFormat(QImage::Format_RGB32));
}

// Every frame drawn while recording lands in a new private folder; "Replay Open" on it plays
// those files in the order they came, and they are the bytes the instrument sent.
void TestScreenCapture::recordThenReplayPlaysTheSameBytes() {
    Panel p = Make(true);
    GoLive(p);
    p.Command(ids::kCmdRecord);
    QVERIFY(p.capture().Recording());
    p.panel->UpdateMenu(false);
    QVERIFY(p.Action(ids::kCmdRecord)->isChecked());
    QTRY_VERIFY_WITH_TIMEOUT(p.capture().RecordedFrames() >= 4, 10000);
    QTRY_VERIFY(p.Pane0().startsWith(QStringLiteral("REC ")));
    p.Command(ids::kCmdStop);
    QVERIFY(!p.capture().Recording());
    const int frames = p.capture().RecordedFrames();
    const QString folder = p.capture().RecordingFolder();
    QVERIFY2(
        QRegularExpression(QStringLiteral("/QVRemote/rec_\\d{8}_\\d{6}$")).match(folder).hasMatch(),
        qPrintable(folder));
    QCOMPARE(p.Pane0(), QStringLiteral("Recorded %1 frames in %2").arg(frames).arg(folder));
    p.panel->UpdateMenu(false);
    QVERIFY(!p.Action(ids::kCmdRecord)->isChecked());
    QCOMPARE(Mode(folder), mode_t(0700));

    const QStringList files = Jpegs(folder);
    QCOMPARE(files.size(), frames);
    const auto served = rig_.sim->instrument().ServedScreens();
    std::vector<Bytes> recorded;
    int previous = -1;
    for (const QString& f : files) {
        QCOMPARE(Mode(folder + QLatin1Char('/') + f), mode_t(0600));
        recorded.push_back(ReadAll(folder + QLatin1Char('/') + f));
        // In name order is in the order the instrument sent them.
        const int at = ServedIndex(served, recorded.back());
        QVERIFY2(at > previous, qPrintable(f));
        previous = at;
    }

    ReplayPlayer player;
    player.chooseFolder = [&] { return folder.toStdString(); };
    std::vector<Bytes> played;
    player.draw = [&](const std::string& path) {
        played.push_back(ReadAll(QString::fromStdString(path)));
        return true;
    };
    player.Open();
    QCOMPARE(static_cast<int>(player.frames().size()), frames);
    player.Play();
    player.Faster();
    player.Faster();  // 4X
    QTRY_VERIFY_WITH_TIMEOUT(!player.playing(), 5000 + frames * 300);
    QCOMPARE(played, recorded);
}

void TestScreenCapture::recordingEndsWithTheStream_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("unchecking") << "uncheck";
    QTest::newRow("stop") << "stop";
    QTest::newRow("link lost") << "lost";
    QTest::newRow("link healed") << "healed";
}

void TestScreenCapture::recordingEndsWithTheStream() {
    QFETCH(QString, how);
    Panel p = Make(true);
    GoLive(p);
    p.Command(ids::kCmdRecord);
    QTRY_VERIFY_WITH_TIMEOUT(p.capture().RecordedFrames() >= 1, 10000);
    if (how == QLatin1String("uncheck")) {
        p.Command(ids::kCmdRecord);
    } else if (how == QLatin1String("stop")) {
        p.Command(ids::kCmdStop);
    } else if (how == QLatin1String("healed")) {
        // A link that heals itself keeps the recording: frames go on in the same folder.
        const std::uint16_t port = rig_.sim->port();
        rig_.sim->Stop();
        QTRY_VERIFY_WITH_TIMEOUT(p.session().linkState() == qv::LinkState::Reconnecting, 5000);
        QVERIFY(p.capture().Recording());
        const int before = p.capture().RecordedFrames();
        QVERIFY(rig_.sim->Start("127.0.0.1", port));
        QTRY_VERIFY_WITH_TIMEOUT(p.capture().RecordedFrames() > before, 10000);
        p.Command(ids::kCmdStop);
    } else {
        // Without healing the lost link ends the stream and the recording.
        p.session().SetAutoReconnect(false);
        rig_.sim->Stop();
        QTRY_VERIFY_WITH_TIMEOUT(p.session().linkState() == qv::LinkState::Disconnected, 10000);
    }
    QVERIFY(!p.capture().Recording());
    QVERIFY(!p.Pane0().startsWith(QStringLiteral("REC")));
    const int frames = p.capture().RecordedFrames();
    QCOMPARE(Jpegs(p.capture().RecordingFolder()).size(), frames);
    // Nothing more is written there.
    if (how == QLatin1String("uncheck")) {
        WaitFrames(p, 2);
        QCOMPARE(Jpegs(p.capture().RecordingFolder()).size(), frames);
    }
}

// A disk that fills up ends the recording with a message; the frames written stay whole, the
// one that did not fit leaves nothing, and the live screen goes on.
void TestScreenCapture::fullDiskStopsRecordingKeepingWhatWasWritten() {
    Panel p = Make(true);
    int calls = 0;
    p.capture().SetRecordWriter([&](int fd, const std::uint8_t* data, std::size_t size) {
        // Three frames fit, of the fourth only half.
        if (++calls <= 3) {
            return ::write(fd, data, size);
        }
        if (calls == 4) {
            return ::write(fd, data, size / 2);
        }
        errno = ENOSPC;
        return ssize_t(-1);
    });
    GoLive(p);
    p.Command(ids::kCmdRecord);
    QTRY_VERIFY_WITH_TIMEOUT(!p.capture().Recording(), 10000);
    const QString folder = p.capture().RecordingFolder();
    QCOMPARE(p.capture().RecordedFrames(), 3);
    QTRY_COMPARE(p.Pane0(), QStringLiteral("Recording stopped: No space left on device; 3 "
                                           "frames kept in %1")
                                .arg(folder));
    p.panel->UpdateMenu(false);
    QVERIFY(!p.Action(ids::kCmdRecord)->isChecked());
    const QStringList files = Jpegs(folder);
    QCOMPARE(files.size(), 3);
    const auto served = rig_.sim->instrument().ServedScreens();
    for (const QString& f : files) {
        QVERIFY(ServedIndex(served, ReadAll(folder + QLatin1Char('/') + f)) >= 0);
    }
    QVERIFY(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size() == 3);
    const Bytes log = ReadAll(QString::fromStdString(qv::ActivityLog::Instance().Path()));
    QVERIFY(QByteArrayView(log.data(), qsizetype(log.size()))
                .contains("Recording stopped: No space left on device"));
    WaitFrames(p, 2);
    QVERIFY(p.session().Streaming());
}

// A pictures folder that cannot be made is named with the reason; nothing starts.
void TestScreenCapture::unusableFolderSaysWhy() {
    QFile blocker(pictures_);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    Panel p = Make(true);
    GoLive(p);
    WaitFrames(p, 1);
    p.Command(ids::kCmdSaveScreen);
    QCOMPARE(
        p.Pane0(),
        QStringLiteral("Cannot save the screen in %1/QVRemote: Not a directory").arg(pictures_));
    p.Command(ids::kCmdRecord);
    QVERIFY(!p.capture().Recording());
    QCOMPARE(p.Pane0(),
             QStringLiteral("Cannot record in %1/QVRemote: Not a directory").arg(pictures_));
    p.panel->UpdateMenu(false);
    QVERIFY(!p.Action(ids::kCmdRecord)->isChecked());
}

// A link planted under the name a save would take is passed over, never followed.
void TestScreenCapture::plantedLinkIsNeverWrittenThrough() {
    Panel p = Make(true);
    GoLive(p);
    WaitFrames(p, 1);
    const QString folder = pictures_ + QStringLiteral("/QVRemote");
    QVERIFY(QDir().mkpath(folder));
    const QString victim = rig_.dir.filePath(QStringLiteral("victim"));
    QFile v(victim);
    QVERIFY(v.open(QIODevice::WriteOnly));
    v.write("untouched");
    v.close();
    // This second and the next two: the save lands in one of them.
    const QDateTime now = QDateTime::currentDateTime();
    for (int s = 0; s < 3; ++s) {
        std::tm t{};
        const QDateTime at = now.addSecs(s);
        t.tm_year = at.date().year() - 1900;
        t.tm_mon = at.date().month() - 1;
        t.tm_mday = at.date().day();
        t.tm_hour = at.time().hour();
        t.tm_min = at.time().minute();
        t.tm_sec = at.time().second();
        const QString link = folder + QLatin1Char('/') + ScreenCapture::SaveName("QV392B", t);
        QVERIFY(QFile::link(victim, link));
    }
    const QString saved = p.capture().SaveScreen(QStringLiteral("QV392B"));
    QVERIFY(!saved.isEmpty());
    QVERIFY(!QFileInfo(saved).isSymLink());
    QCOMPARE(ReadAll(saved), *p.capture().LastFrame());
    QCOMPARE(ReadAll(victim), Bytes({'u', 'n', 't', 'o', 'u', 'c', 'h', 'e', 'd'}));
    QVERIFY(saved.endsWith(QStringLiteral("_2.jpg")));
}

// The rate is stored as "LiveRate" and comes back with the next window. At Responsive a key
// brings an early exchange whose frame carries it; at Normal none comes early.
void TestScreenCapture::liveRateIsStoredAndRefreshesAfterAKey() {
    const auto stored = [&] {
        QSettings s(rig_.ini, QSettings::IniFormat);
        return s.value(QStringLiteral("Connection/LiveRate"));
    };
    {
        Panel p = Make(true);
        QVERIFY(!stored().isValid());
        p.Command(ids::kCmdLiveFast);
        QCOMPARE(stored().toInt(), 2);
        p.Command(ids::kCmdLiveResponsive);
        QCOMPARE(stored().toInt(), 1);
    }
    Panel p = Make(true);
    p.panel->UpdateMenu(false);
    QVERIFY(p.Action(ids::kCmdLiveResponsive)->isChecked());
    QVERIFY(!p.Action(ids::kCmdLiveNormal)->isChecked());
    GoLive(p);
    WaitFrames(p, 1);
    const auto stamp = [&] {
        return qv::sim::SimScreen::ReadCommandStamp(p.panel->screen().frame(), 800, 600)
            .value_or(-1);
    };
    QCOMPARE(p.session().EarlyExchanges(), 0);
    // A key that lands just before a regular exchange is shown by that one, a little later;
    // any other brings an early one. Keys until one has.
    int sent = 0;
    while (p.session().EarlyExchanges() == 0 && sent < 8) {
        p.panel->SendKey("KEYP:NUM5");
        ++sent;
        QTRY_COMPARE_WITH_TIMEOUT(stamp(), sent, 5000);
    }
    QTRY_COMPARE(p.session().EarlyExchanges(), 1);

    p.Command(ids::kCmdLiveNormal);
    QCOMPARE(stored().toInt(), 0);
    p.panel->SendKey("KEYP:NUM6");
    QTRY_COMPARE_WITH_TIMEOUT(stamp(), sent + 1, 5000);
    WaitFrames(p, 1);
    QCOMPARE(p.session().EarlyExchanges(), 1);
}

QTEST_MAIN(TestScreenCapture)
#include "tst_screen_capture.moc"
