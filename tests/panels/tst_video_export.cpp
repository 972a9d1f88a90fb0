// The window's export: a recording made by the window's own Record, written from the menu's
// "Export recording…" and from the replay bar's "Export video…", checked with ffprobe and
// ffmpeg; the progress dialog, Cancel, a failure and closing the window mid-export leave no
// file behind, and pane 0 says where the file went.
#include <sys/stat.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "media/Recording.h"
#include "panels/CPanelSessionView.h"
#include "panels/ScreenCapture.h"
#include "panels/VideoExport.h"
#include "panels/softkey/CRemoteDlgWren.h"
#include "panels/softkey/CReplayBar.h"
#include "resources/ids.h"
#include "session/SettingsStore.h"
#include "sim/SimServer.h"
#include "tests/media/MediaProbe.h"

namespace ids = qv::ids;
namespace fs = std::filesystem;

class TestVideoExport : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        qputenv("HOME", QFile::encodeName(dir_.filePath("home")));
        qputenv("XDG_STATE_HOME", QFile::encodeName(dir_.filePath("state")));
        qputenv("XDG_PICTURES_DIR", QFile::encodeName(dir_.filePath("pictures")));
        QVERIFY(QDir().mkpath(dir_.filePath("out")));
        // The "Connected" box is closed as it opens.
        connect(&dismisser_, &QTimer::timeout, [] {
            if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                d->done(QDialog::Accepted);
            }
        });
        dismisser_.start(20);
        QSettings ini(Ini(), QSettings::IniFormat);
        ini.setValue("Connection/Method", 1);
        ini.setValue("Connection/IP", "127.0.0.1");
        ini.sync();
        store_ = std::make_unique<qv::SettingsStore>(Ini().toStdString());
        QVERIFY(sim_.Start("127.0.0.1", 0));
    }

    // Record in the window, then the menu item (right after "Record") and the replay bar.
    void recordingMadeByTheWindowExportsFromMenuAndReplayBar() {
        auto panel = Open();
        auto& capture = panel->panelSession().capture();
        panel->Command(ids::kCmdRecord);
        QVERIFY(capture.Recording());
        QTRY_VERIFY_WITH_TIMEOUT(capture.RecordedFrames() >= 6, 15000);
        panel->Command(ids::kCmdRecord);
        const QString folder = capture.RecordingFolder();
        const QStringList names = QDir(folder).entryList({"*.jpg"}, QDir::Files, QDir::Name);
        QCOMPARE(names.size(), capture.RecordedFrames());

        const QList<QAction*> items = panel->panelSession().menu().actions();
        const auto record = std::find_if(items.begin(), items.end(), [](QAction* a) {
            return a->data().toInt() == ids::kCmdRecord;
        });
        QVERIFY(record != items.end() && record + 1 != items.end());
        QCOMPARE((*(record + 1))->text(), QStringLiteral("Export recording\u2026"));
        QCOMPARE((*(record + 1))->data().toInt(), ids::kCmdExportRecording);

        VideoExport& exporter = panel->panelSession().videoExport();
        QString askedFor;
        exporter.chooseFolder = [&] { return folder; };
        exporter.chooseOutput = [&](const QString& f) {
            askedFor = f;
            return Out("window.mkv");
        };
        QSignalSpy done(&exporter, &VideoExport::finished);
        (*(record + 1))->trigger();
        QCOMPARE(askedFor, folder);
        QVERIFY(exporter.Running());
        QVERIFY(exporter.dialog() != nullptr && exporter.dialog()->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 20000);
        QCOMPARE(done.first().at(0).toBool(), true);
        QVERIFY(exporter.dialog() == nullptr || !exporter.dialog()->isVisible());
        QCOMPARE(
            Pane0(*panel),
            QStringLiteral("Exported %1 frames to %2").arg(names.size()).arg(Out("window.mkv")));
        // The frames the window recorded, byte for byte, at the times their names give.
        const auto copied = qv::test::ExtractFrames(Out("window.mkv").toStdString(),
                                                    dir_.filePath("copied").toStdString());
        QCOMPARE(int(copied.size()), names.size());
        for (int i = 0; i < names.size(); ++i) {
            QVERIFY2(copied[std::size_t(i)] == ReadAll(folder + '/' + names[i]),
                     qPrintable(names[i]));
        }
        const qv::test::VideoFacts mkv = qv::test::ProbeVideo(Out("window.mkv").toStdString());
        const std::int64_t span = *qv::media::TimeOfDayOfName(names.last().toStdString()) -
                                  *qv::media::TimeOfDayOfName(names.first().toStdString());
        QCOMPARE(mkv.packetMs.back(), span);

        // The replay bar: "Export video…" waits for a folder, then writes the open one.
        panel->Command(CRemoteDlgWren::kCmdReplay);
        auto* bar = qobject_cast<CReplayBar*>(panel->replayBar());
        auto* button =
            bar->findChild<QPushButton*>(QStringLiteral("ctrl%1").arg(ids::kReplayExport));
        QVERIFY(button != nullptr && !button->isEnabled());
        QCOMPARE(button->text(), QStringLiteral("Export video\u2026"));
        bar->player().chooseFolder = [&] { return folder.toStdString(); };
        bar->player().Open();
        QVERIFY(button->isEnabled());
        exporter.chooseOutput = [&](const QString&) { return Out("bar.mp4"); };
        QTest::mouseClick(button, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 2, 30000);
        QCOMPARE(done.last().at(0).toBool(), true);
        const qv::test::VideoFacts mp4 = qv::test::ProbeVideo(Out("bar.mp4").toStdString());
        QCOMPARE(mp4.codec, std::string("h264"));
        QCOMPARE(mp4.frames, names.size());
        // As long as the recording, its last frame held one step, within one frame.
        const double step = double(mkv.packetMs.back() - mkv.packetMs[mkv.packetMs.size() - 2]);
        QVERIFY(std::abs(mp4.duration * 1000 - double(span) - step) <= double(span) / names.size());
        QCOMPARE(Mode(Out("bar.mp4")), mode_t(0600));
    }

    // Cancel in the dialog, a file that cannot be made, and the window closed mid-export:
    // no file, and pane 0 says why.
    void cancelFailureAndCloseLeaveNoFile() {
        QVERIFY(QDir(dir_.filePath("out")).removeRecursively() &&
                QDir().mkpath(dir_.filePath("out")));
        // A long recording: the frames of a short one, named over and over.
        const QString rec = dir_.filePath("rec_20261207_120000");
        QVERIFY(QDir().mkpath(rec));
        const auto screens = qv::test::Screens(4);
        for (int i = 0; i < 600; ++i) {
            qv::test::WriteBytes(
                (rec + '/' +
                 QString::fromStdString(qv::test::RecordedName(i + 1, 43200000 + 500LL * i)))
                    .toStdString(),
                screens[std::size_t(i % 4)]);
        }
        auto panel = Open();
        VideoExport& exporter = panel->panelSession().videoExport();
        QSignalSpy done(&exporter, &VideoExport::finished);
        exporter.chooseOutput = [&](const QString&) { return Out("cancel.mp4"); };
        QVERIFY(exporter.ExportFolder(rec));
        QTRY_VERIFY(exporter.dialog()->value() > 0);
        QVERIFY(exporter.dialog()->labelText().contains(
            QStringLiteral(" of 600 frames \u00b7 about ")));
        auto* cancel = exporter.dialog()->findChild<QPushButton*>();
        QVERIFY(cancel != nullptr);
        QTest::mouseClick(cancel, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 10000);
        QCOMPARE(done.first().at(0).toBool(), false);
        QCOMPARE(Pane0(*panel), QStringLiteral("Export cancelled; nothing was written"));
        QCOMPARE(OutFiles(), QStringList{});

        QVERIFY(exporter.Start(rec, dir_.filePath("nowhere/x.mkv"), true));
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 2, 10000);
        QCOMPARE(Pane0(*panel),
                 QStringLiteral("Export failed: cannot create %1: No such file or directory")
                     .arg(dir_.filePath("nowhere/x.mkv")));

        QVERIFY(exporter.Start(rec, Out("closed.mp4"), false));
        QTRY_VERIFY(exporter.dialog()->value() > 0);
        QElapsedTimer closing;
        closing.start();
        panel->close();
        panel.reset();
        QVERIFY(closing.elapsed() < 2000);
        QCOMPARE(OutFiles(), QStringList{});
    }

  private:
    QString Ini() const { return dir_.filePath("settings.ini"); }
    QString Out(const QString& name) const { return dir_.filePath("out/" + name); }
    QStringList OutFiles() const {
        return QDir(dir_.filePath("out")).entryList(QDir::Files | QDir::Hidden);
    }
    static QString Pane0(CRemoteDlgWren& p) { return p.view().PaneText(0); }
    static std::string ReadAll(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
    }
    static mode_t Mode(const QString& path) {
        struct stat st {};
        return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
    }
    // The soft-key panel, connected and streaming.
    std::unique_ptr<CRemoteDlgWren> Open() {
        auto panel = std::make_unique<CRemoteDlgWren>(*store_, nullptr, sim_.port());
        panel->show();
        panel->Command(ids::kCmdConnect);
        [&] { QTRY_COMPARE(panel->view().PaneText(1), QStringLiteral("Connected")); }();
        panel->Command(ids::kCmdStart);
        return panel;
    }

    QTemporaryDir dir_;
    QTimer dismisser_;
    std::unique_ptr<qv::SettingsStore> store_;
    qv::sim::SimServer sim_;
};

QTEST_MAIN(TestVideoExport)
#include "tst_video_export.moc"
