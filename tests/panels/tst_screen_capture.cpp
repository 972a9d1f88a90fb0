// Save, copy, record and the live rate on both panels against the simulator over real TCP:
// the bytes kept are the ones the instrument sent, in private files never written through a link.
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QClipboard>
#include <QDateTime>
#include <QMimeData>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <ctime>

#include "panels/CScreenView.h"
#include "panels/ImageServices.h"
#include "panels/PaneNote.h"
#include "panels/ScreenCapture.h"
#include "panels/softkey/ReplayPlayer.h"
#include "session/ActivityLog.h"
#include "tests/panels/PanelRig.h"

namespace ids = qv::ids;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes ReadAll(const QString& path) {
    QFile f(path);
    const QByteArray b = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    return {b.begin(), b.end()};
}

mode_t Mode(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

QStringList Jpegs(const QString& folder) {
    return QDir(folder).entryList({"*.jpg"}, QDir::Files | QDir::System, QDir::Name);
}

ScreenCapture& Capture(CPanelDlg& p) {
    return p.panelSession().capture();
}

QString Pane0(CPanelDlg& p) {
    return p.view().PaneText(0);
}

// The menu item's check as opening the menu would set it.
bool Checked(CPanelDlg& p, int id) {
    p.UpdateMenu();
    return p.panelSession().Action(id)->isChecked();
}

}  // namespace

class TestScreenCapture : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        QVERIFY(rig_.Prepare());
        // Notes write the home folder as "~"; the test's folders lie outside this one.
        const QString home = rig_.dir.filePath("home");
        QVERIFY(QDir().mkpath(home));
        qputenv("HOME", QFile::encodeName(home));
    }
    void init() {
        const bool hard = QByteArray(QTest::currentDataTag()).startsWith("hard");
        QVERIFY(rig_.Reset(!hard));
        rig_.sim->instrument().SetModel(hard ? "QV364C" : "QV392B");
        rig_.sim->instrument().KeepServedScreens(200);
        pictures_ =
            rig_.dir.filePath(QStringLiteral("pictures-%1").arg(QTest::currentTestFunction()));
        QDir(pictures_).removeRecursively();
        qputenv("XDG_PICTURES_DIR", QFile::encodeName(pictures_));
    }
    void cleanup() { rig_.sim.reset(); }

    // The session's text underneath, the recording's mark before it, a note over both a while.
    void paneZeroLayers() {
        QString shown;
        PaneNote pane([&](const QString& t) { shown = t; });
        pane.SetBase("Link steady");
        pane.SetMark("REC 3");
        QCOMPARE(shown, QStringLiteral("REC 3   Link steady"));
        pane.Show("Saved to ~/x.jpg", 1);
        // The session may change its text meanwhile; it shows when the note is gone.
        pane.SetBase("Link slow");
        QCOMPARE(shown, QStringLiteral("Saved to ~/x.jpg"));
        QTRY_COMPARE_WITH_TIMEOUT(shown, QStringLiteral("REC 3   Link slow"), 3000);
        pane.SetMark({});
        QCOMPARE(shown, QStringLiteral("Link slow"));
    }
    void saveAndCopyTheReceivedBytes_data() {
        QTest::addColumn<bool>("soft");
        QTest::addColumn<QString>("model");
        QTest::newRow("hard") << false << "QV364C";
        QTest::newRow("soft") << true << "QV392B";
    }
    // Ctrl+S writes the frame on screen as the instrument sent it, named by model and time, while
    // streaming and after Stop; Ctrl+C puts those bytes and the picture on the clipboard. Before
    // any frame both say there is none, and nothing records.
    void saveAndCopyTheReceivedBytes() {
        QFETCH(bool, soft);
        QFETCH(QString, model);
        auto p = rig_.Open(soft);
        QGuiApplication::clipboard()->clear();
        QTest::keyClick(p.get(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(Pane0(*p), QStringLiteral("No screen to copy yet"));
        QTest::keyClick(p.get(), Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(Pane0(*p), QStringLiteral("No screen to save yet"));
        const QString folder = pictures_ + "/QVRemote";
        QVERIFY(Jpegs(folder).isEmpty());
        p->UpdateMenu();
        QVERIFY(!p->panelSession().Action(ids::kCmdRecord)->isEnabled());
        p->Command(ids::kCmdRecord);
        QVERIFY(!Capture(*p).Recording());

        rig_.Live(*p);
        WaitFrames(*p, 2);
        QTest::keyClick(p.get(), Qt::Key_S, Qt::ControlModifier);
        QStringList files = Jpegs(folder);
        QCOMPARE(files.size(), 1);
        QVERIFY2(
            QRegularExpression("^" + model + "_\\d{8}_\\d{6}\\.jpg$").match(files[0]).hasMatch(),
            qPrintable(files[0]));
        const Bytes saved = ReadAll(folder + '/' + files[0]);
        QCOMPARE(saved, *Capture(*p).LastFrame());
        QVERIFY(ServedIndex(saved) >= 0);
        QCOMPARE(Mode(folder + '/' + files[0]), mode_t(0600));
        QCOMPARE(Mode(folder), mode_t(0700));
        QVERIFY2(Pane0(*p).startsWith("Saved to ") && Pane0(*p).endsWith(files[0]),
                 qPrintable(Pane0(*p)));
        QTest::keyClick(p.get(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(Pane0(*p), QStringLiteral("Screen copied"));
        const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
        QVERIFY(mime != nullptr);
        QCOMPARE(mime->data("image/jpeg"),
                 QByteArray(reinterpret_cast<const char*>(saved.data()), qsizetype(saved.size())));
        const auto decoded = qv::ImageServices::DecodeBytes(saved.data(), saved.size());
        QVERIFY(decoded.has_value());
        QCOMPARE(qvariant_cast<QImage>(mime->imageData()).convertToFormat(QImage::Format_RGB32),
                 decoded->convertToFormat(QImage::Format_RGB32));

        // After Stop the last frame is still there to save; a second save keeps the first.
        p->Command(ids::kCmdStop);
        QTRY_COMPARE(p->session().responseReady().load(), 1);
        QApplication::processEvents();
        p->Command(ids::kCmdSaveScreen);
        files = Jpegs(folder);
        QCOMPARE(files.size(), 2);
        for (const QString& f : files) {
            QVERIFY(ServedIndex(ReadAll(folder + '/' + f)) >= 0);
        }
    }
    // Every frame drawn while recording lands in a new private folder; "Replay Open" on it plays
    // those files in the order they came, and they are the bytes the instrument sent.
    void recordThenReplayPlaysTheSameBytes() {
        auto p = Live();
        p->Command(ids::kCmdRecord);
        QVERIFY(Capture(*p).Recording());
        QVERIFY(Checked(*p, ids::kCmdRecord));
        QTRY_VERIFY_WITH_TIMEOUT(Capture(*p).RecordedFrames() >= 4, 10000);
        QTRY_VERIFY(Pane0(*p).startsWith("REC "));
        p->Command(ids::kCmdStop);
        QVERIFY(!Capture(*p).Recording());
        const int frames = Capture(*p).RecordedFrames();
        const QString folder = Capture(*p).RecordingFolder();
        QVERIFY2(QRegularExpression("/QVRemote/rec_\\d{8}_\\d{6}$").match(folder).hasMatch(),
                 qPrintable(folder));
        QCOMPARE(Pane0(*p), QStringLiteral("Recorded %1 frames in %2").arg(frames).arg(folder));
        QVERIFY(!Checked(*p, ids::kCmdRecord));
        QCOMPARE(Mode(folder), mode_t(0700));

        const QStringList files = Jpegs(folder);
        QCOMPARE(files.size(), frames);
        std::vector<Bytes> recorded;
        int previous = -1;
        for (const QString& f : files) {
            QCOMPARE(Mode(folder + '/' + f), mode_t(0600));
            recorded.push_back(ReadAll(folder + '/' + f));
            // In name order is in the order the instrument sent them.
            const int at = ServedIndex(recorded.back());
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
        player.Play();
        player.Faster();
        player.Faster();  // 4X
        QTRY_VERIFY_WITH_TIMEOUT(!player.playing(), 5000 + frames * 300);
        QCOMPARE(played, recorded);
    }
    void recordingEndsWithTheStream_data() {
        QTest::addColumn<QString>("how");
        // Stop: as recordThenReplayPlaysTheSameBytes ends.
        for (const char* how : {"uncheck", "lost", "healed"}) {
            QTest::newRow(how) << how;
        }
    }
    void recordingEndsWithTheStream() {
        QFETCH(QString, how);
        auto p = Live();
        p->Command(ids::kCmdRecord);
        QTRY_VERIFY_WITH_TIMEOUT(Capture(*p).RecordedFrames() >= 1, 10000);
        if (how == "uncheck") {
            p->Command(ids::kCmdRecord);
        } else if (how == "healed") {
            // A link that heals itself keeps the recording: frames go on in the same folder.
            const std::uint16_t port = rig_.sim->port();
            rig_.sim->Stop();
            QTRY_VERIFY_WITH_TIMEOUT(p->session().linkState() == qv::LinkState::Reconnecting, 5000);
            QVERIFY(Capture(*p).Recording());
            const int before = Capture(*p).RecordedFrames();
            QVERIFY(rig_.sim->Start("127.0.0.1", port));
            QTRY_VERIFY_WITH_TIMEOUT(Capture(*p).RecordedFrames() > before, 15000);
            p->Command(ids::kCmdStop);
        } else {
            // Without healing the lost link ends the stream and the recording.
            p->session().SetAutoReconnect(false);
            rig_.sim->Stop();
            QTRY_VERIFY_WITH_TIMEOUT(p->session().linkState() == qv::LinkState::Disconnected,
                                     10000);
        }
        QVERIFY(!Capture(*p).Recording());
        QVERIFY(!Pane0(*p).startsWith("REC"));
        const int frames = Capture(*p).RecordedFrames();
        QCOMPARE(Jpegs(Capture(*p).RecordingFolder()).size(), frames);
        if (how == "uncheck") {  // nothing more is written there
            WaitFrames(*p, 2);
            QCOMPARE(Jpegs(Capture(*p).RecordingFolder()).size(), frames);
        }
    }
    // A disk that fills up ends the recording with a message; the frames written stay whole, the
    // one that did not fit leaves nothing, and the live screen goes on.
    void fullDiskStopsRecordingKeepingWhatWasWritten() {
        auto p = rig_.Open(true);
        int calls = 0;
        // Three frames fit, of the fourth only half.
        Capture(*p).SetRecordWriter([&](int fd, const std::uint8_t* data, std::size_t size) {
            if (++calls <= 4) {
                return ::write(fd, data, calls == 4 ? size / 2 : size);
            }
            errno = ENOSPC;
            return ssize_t(-1);
        });
        rig_.Live(*p);
        p->Command(ids::kCmdRecord);
        QTRY_VERIFY_WITH_TIMEOUT(!Capture(*p).Recording(), 10000);
        const QString folder = Capture(*p).RecordingFolder();
        QCOMPARE(Capture(*p).RecordedFrames(), 3);
        QTRY_COMPARE(
            Pane0(*p),
            QString("Recording stopped: No space left on device; 3 frames kept in " + folder));
        QVERIFY(!Checked(*p, ids::kCmdRecord));
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(), 3);
        for (const QString& f : Jpegs(folder)) {
            QVERIFY(ServedIndex(ReadAll(folder + '/' + f)) >= 0);
        }
        const Bytes log = ReadAll(QString::fromStdString(qv::ActivityLog::Instance().Path()));
        QVERIFY(QByteArray(reinterpret_cast<const char*>(log.data()), qsizetype(log.size()))
                    .contains("Recording stopped: No space left on device"));
        WaitFrames(*p, 2);
        QVERIFY(p->session().Streaming());
    }
    // A link planted under the name a save would take is passed over, never followed.
    void plantedLinkOrUnusableFolder() {
        auto p = Live();
        WaitFrames(*p, 1);
        const QString folder = pictures_ + "/QVRemote";
        QVERIFY(QDir().mkpath(folder));
        const QString victim = rig_.dir.filePath("victim");
        QFile v(victim);
        QVERIFY(v.open(QIODevice::WriteOnly) && v.write("untouched") == 9);
        v.close();
        // This second and the next two: the save lands in one of them.
        const std::time_t now = std::time(nullptr);
        for (int s = 0; s < 3; ++s) {
            const std::time_t at = now + s;
            std::tm t{};
            localtime_r(&at, &t);
            QVERIFY(QFile::link(victim, folder + '/' + ScreenCapture::SaveName("QV392B", t)));
        }
        const QString saved = Capture(*p).SaveScreen("QV392B");
        QVERIFY(!saved.isEmpty() && !QFileInfo(saved).isSymLink());
        QCOMPARE(ReadAll(saved), *Capture(*p).LastFrame());
        QCOMPARE(ReadAll(victim), Bytes({'u', 'n', 't', 'o', 'u', 'c', 'h', 'e', 'd'}));
        QVERIFY(saved.endsWith("_2.jpg"));
        // A pictures folder that cannot be made is named with the reason; nothing starts.
        QVERIFY(QDir(pictures_).removeRecursively() && QFile(pictures_).open(QIODevice::WriteOnly));
        p->Command(ids::kCmdSaveScreen);
        QCOMPARE(Pane0(*p),
                 "Cannot save the screen in " + pictures_ + "/QVRemote: Not a directory");
        p->Command(ids::kCmdRecord);
        QVERIFY(!Capture(*p).Recording());
        QCOMPARE(Pane0(*p), "Cannot record in " + pictures_ + "/QVRemote: Not a directory");
        QVERIFY(!Checked(*p, ids::kCmdRecord));
    }
    // The rate is stored as "LiveRate" (Normal by default) and comes back with the next window.
    // At Responsive a key brings an early exchange whose frame carries it; at Normal none comes.
    void liveRateIsStoredAndRefreshesAfterAKey() {
        {
            auto p = rig_.Open(true);
            QVERIFY(Checked(*p, ids::kCmdLiveNormal));
            QVERIFY(!rig_.Stored(qv::kSetLiveRate).isValid());
            p->Command(ids::kCmdLiveFast);
            QCOMPARE(rig_.Stored(qv::kSetLiveRate).toInt(), 2);
            p->Command(ids::kCmdLiveResponsive);
            QCOMPARE(rig_.Stored(qv::kSetLiveRate).toInt(), 1);
        }
        auto p = rig_.Open(true);
        QVERIFY(Checked(*p, ids::kCmdLiveResponsive));
        QVERIFY(!Checked(*p, ids::kCmdLiveNormal));
        rig_.Live(*p);
        WaitFrames(*p, 1);
        const auto stamp = [&] {
            return qv::sim::SimScreen::ReadCommandStamp(p->screen().frame(), 800, 600).value_or(-1);
        };
        QCOMPARE(p->session().EarlyExchanges(), 0);
        // A key that lands just before a regular exchange is shown by that one, a little later;
        // any other brings an early one. Keys until one has.
        int sent = 0;
        while (p->session().EarlyExchanges() == 0 && sent < 8) {
            p->SendKey("KEYP:NUM5");
            ++sent;
            QTRY_COMPARE_WITH_TIMEOUT(stamp(), sent, 5000);
        }
        QTRY_COMPARE(p->session().EarlyExchanges(), 1);

        p->Command(ids::kCmdLiveNormal);
        QCOMPARE(rig_.Stored(qv::kSetLiveRate).toInt(), 0);
        p->SendKey("KEYP:NUM6");
        QTRY_COMPARE_WITH_TIMEOUT(stamp(), sent + 1, 5000);
        WaitFrames(*p, 1);
        QCOMPARE(p->session().EarlyExchanges(), 1);
    }

  private:
    // A live soft-key panel.
    std::unique_ptr<CPanelDlg> Live() {
        auto p = rig_.Open(true);
        rig_.Live(*p);
        return p;
    }
    // Where in the simulator's served screens these bytes are; -1 when nowhere.
    int ServedIndex(const Bytes& bytes) const {
        const auto served = rig_.sim->instrument().ServedScreens();
        const auto it = std::find(served.begin(), served.end(), bytes);
        return it == served.end() ? -1 : static_cast<int>(it - served.begin());
    }
    // Waits until the picture shows n more frames.
    static void WaitFrames(CPanelDlg& p, int n) {
        const int target = p.screen().framesShown() + n;
        QTRY_VERIFY_WITH_TIMEOUT(p.screen().framesShown() >= target, 10000);
    }

    PanelRig rig_;
    QString pictures_;
};

QTEST_MAIN(TestScreenCapture)
#include "tst_screen_capture.moc"
