// The replay bar and its player against real folders of generated JPEGs. The drawing step
// records paths, or decodes them for real where failures and writes matter.
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

#include "panels/softkey/CReplayBar.h"
#include "session/ActivityLog.h"

namespace {

// Frame files named like saved screens, written newest first.
std::vector<std::string> MakeFrames(const QString& folder, int count) {
    std::vector<std::string> names(count);
    for (int i = count - 1; i >= 0; --i) {
        names[i] = QString("20261207_093000_%1.jpg").arg(i, 3, 10, QChar('0')).toStdString();
        QImage image(64, 48, QImage::Format_RGB32);
        image.fill(QColor(i % 256, 40, 90));
        image.save(QDir(folder).filePath(QString::fromStdString(names[i])), "JPG");
    }
    return names;
}

void Write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

}  // namespace

class ReplayTest : public QObject {
    Q_OBJECT
  private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        bar_ = std::make_unique<CReplayBar>();
        drawn_.clear();
        player().draw = [this](const std::string& path) {
            drawn_.push_back(path);
            return true;
        };
        Use(dir_->path());
    }
    // Open, Slower, Stop, Play and Faster are the bar's buttons by control id. Frames play in
    // name order from where the slider is. The speed steps round 1X, 2X, 4X; stopped, only the
    // value changes and Play runs at it under the old label.
    void buttonsPlayInNameOrderAndStepTheSpeed() {
        enum { kOpen = 1052, kSlower, kStop, kPlay, kFaster };
        const auto click = [this](int id) {
            auto* button = bar_->findChild<QPushButton*>(QStringLiteral("ctrl%1").arg(id));
            QVERIFY(button != nullptr);
            QTest::mouseClick(button, Qt::LeftButton);
        };
        const auto speedIs = [this](const char* label, int interval) {
            QVERIFY(player().timer().isActive());
            QCOMPARE(bar_->speedLabel()->text(), QString(label));
            QCOMPARE(player().timer().interval(), interval);
        };
        auto names = MakeFrames(dir_->path(), 15);
        // Byte order: upper case first. Neither a text file nor a folder is a frame.
        for (const char* name : {"b.jpg", "B.jpg"}) {
            QVERIFY(QImage(8, 8, QImage::Format_RGB32).save(dir_->filePath(name), "JPG"));
        }
        Write(dir_->filePath("notes.txt"), "x");
        QVERIFY(QDir(dir_->path()).mkdir("sub.jpg"));
        names.insert(names.end(), {"B.jpg", "b.jpg"});
        click(kSlower);  // before any folder the speed is -1
        QCOMPARE(player().speed(), 1);
        click(kOpen);
        std::vector<std::string> got;
        for (const auto& [index, name] : player().frames()) {
            QCOMPARE(index, static_cast<int>(got.size()));
            got.push_back(name);
        }
        QCOMPARE(got, names);
        QCOMPARE(bar_->stateLabel()->text(), QStringLiteral("17 frames"));
        bar_->slider()->setValue(14);  // as a drag would
        QCOMPARE(drawn_.size(), std::size_t{1});
        QCOMPARE(Drawn(0), names[14]);
        QSignalSpy started(bar_.get(), &CReplayBar::startedPlaying);
        click(kPlay);
        speedIs("1X", 1000);
        const std::tuple<int, const char*, int> steps[] = {
            {kFaster, "2X", 500}, {kFaster, "4X", 250}, {kFaster, "1X", 1000},
            {kSlower, "4X", 250}, {kSlower, "2X", 500}, {kSlower, "1X", 1000}};
        for (const auto& [id, label, interval] : steps) {
            click(id);
            speedIs(label, interval);
        }
        Tick(2);
        QCOMPARE(Drawn(1), names[14]);
        QCOMPARE(Drawn(2), names[15]);
        QCOMPARE(bar_->slider()->value(), 15);
        QCOMPARE(player().index(), 16);
        // The end of the list keeps the last frame; Play shows it once more, then stops.
        for (const std::size_t shown : {4, 5}) {
            Tick(2);
            QCOMPARE(drawn_.size(), shown);
            QCOMPARE(Drawn(shown - 1), names[16]);
            QVERIFY(!player().timer().isActive() && !player().playing());
            QVERIFY(player().index() == 16 && bar_->slider()->value() == 16);
            click(kPlay);
        }
        click(kStop);
        click(kSlower);
        QCOMPARE(player().speed(), 2);
        QVERIFY(!player().timer().isActive());
        click(kPlay);
        speedIs("1X", 250);
        QCOMPARE(started.count(), 4);
        // Live streaming takes the picture from a playing replay.
        bar_->StopPlayback();
        QVERIFY(!player().timer().isActive() && !player().playing());
    }
    void openingAnotherFolderWhilePlaying_data() {
        QTest::addColumn<QString>("chosen");  // in the temporary folder; "-": the choice cancelled
        QTest::addColumn<QString>("state");
        QTest::newRow("2 frames") << QStringLiteral("second") << QStringLiteral("2 frames");
        QTest::newRow("No folder") << QStringLiteral("-") << QStringLiteral("No folder");
        QTest::newRow("No frames") << QStringLiteral("empty") << QStringLiteral("No frames");
        QTest::newRow("gone") << QStringLiteral("gone") << QStringLiteral("Folder not found");
    }
    // The timer runs on (at the speed it had) and nothing claims to play: with frames, its next
    // tick shows the new first frame and speed changes wait for Play; without, the tick ends it
    // and Play does nothing.
    void openingAnotherFolderWhilePlaying() {
        QFETCH(QString, chosen);
        MakeFrames(dir_->path(), 5);
        QVERIFY(QDir(dir_->path()).mkdir("empty") && QDir(dir_->path()).mkdir("second"));
        Write(dir_->filePath("empty/readme.txt"), "x");
        const auto second = MakeFrames(dir_->filePath("second"), 2);
        player().Open();
        player().Play();
        player().Faster();
        Tick(2);
        Use(chosen == "-" ? QString() : dir_->filePath(chosen));
        player().Open();
        QTEST(bar_->stateLabel()->text(), "state");
        QVERIFY(player().timer().isActive() && !player().playing());
        QCOMPARE(player().timer().interval(), 500);
        const std::size_t before = drawn_.size();
        Tick();
        if (chosen == "second") {
            QCOMPARE(Drawn(drawn_.size() - 1), second[0]);
            QVERIFY(drawn_.back().find("/second/") != std::string::npos);
            player().Faster();
            QCOMPARE(bar_->speedLabel()->text(), QStringLiteral("2X"));
            QCOMPARE(player().timer().interval(), 500);
            return;
        }
        QVERIFY(player().frames().empty());
        QVERIFY(!bar_->slider()->isEnabled());
        QVERIFY(!player().timer().isActive());
        QSignalSpy started(bar_.get(), &CReplayBar::startedPlaying);
        player().SeekTo(1);
        player().Play();
        QVERIFY(!player().timer().isActive());
        QCOMPARE(started.count(), 0);
        QCOMPARE(drawn_.size(), before);
        QCOMPARE(player().index(), 0);
    }
    // In a folder with a long path, drawn at 70 % where the live loop would write a scaled copy:
    // a bad file and one gone since the listing are logged; no file is written or changed.
    void badFilesAreLoggedAndNothingIsWritten() {
        QString frames = dir_->filePath("frames");
        while (frames.size() <= 300) {
            frames += QStringLiteral("/of_a_long_session_kept_for_later");
        }
        QVERIFY(QDir().mkpath(frames) && QDir().mkpath(dir_->filePath("logs")));
        MakeFrames(frames, 4);
        Write(QDir(frames).filePath("20261207_093000_001.jpg"), "plain text, not a picture");
        const auto listing = [&frames] {
            QStringList out;
            for (const QFileInfo& f : QDir(frames).entryInfoList(QDir::Files | QDir::Hidden)) {
                out << f.fileName() + ' ' + QString::number(f.size()) + ' ' +
                           QString::number(f.lastModified().toMSecsSinceEpoch());
            }
            return out;
        };
        auto& log = qv::ActivityLog::Instance();
        QCOMPARE(log.Open(dir_->filePath("logs").toStdString()), 1);
        const QString cwd = QDir::currentPath();
        std::vector<bool> drawnOk;
        player().draw = [&drawnOk](const std::string& path) {
            drawnOk.push_back(ReplayPlayer::LoadFrame(path, {559, 419}).has_value());
            return drawnOk.back();
        };
        Use(frames);
        player().Open();
        player().Play();
        Tick(2);
        QVERIFY(QFile::remove(QDir(frames).filePath("20261207_093000_002.jpg")));
        const QStringList before = listing();
        Tick(2);
        QVERIFY(player().timer().isActive());
        Tick();
        QVERIFY(!player().timer().isActive());
        bar_->slider()->setValue(1);
        player().Open();
        const QString logPath = QString::fromStdString(log.Path());
        log.Close();
        QCOMPARE(drawnOk, (std::vector<bool>{true, false, false, true, false}));
        QFile file(logPath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll().count("Image Load Failed"), 3);
        QCOMPARE(listing(), before);
        QCOMPARE(QDir::currentPath(), cwd);
    }

  private:
    void Use(const QString& folder) {
        player().chooseFolder = [folder] { return folder.toStdString(); };
    }
    ReplayPlayer& player() { return bar_->player(); }
    // Ticks of the replay timer, without waiting for them.
    void Tick(int times = 1) {
        for (int i = 0; i < times; ++i) {
            QMetaObject::invokeMethod(const_cast<QTimer*>(&player().timer()), "timeout",
                                      Qt::DirectConnection);
        }
    }
    std::string Drawn(std::size_t i) const {
        return QFileInfo(QString::fromStdString(drawn_.at(i))).fileName().toStdString();
    }

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<CReplayBar> bar_;
    std::vector<std::string> drawn_;
};

QTEST_MAIN(ReplayTest)
#include "tst_replay.moc"
