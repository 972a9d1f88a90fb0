// The replay player against real folders of generated JPEGs. The drawing step records paths,
// or decodes them for real where failures and writes matter.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <string>
#include <vector>

#include "panels/softkey/CReplayBar.h"
#include "session/ActivityLog.h"

namespace {

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// Frame files named like saved screens, created newest first.
std::vector<std::string> MakeFrames(const QString& folder, int count) {
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        names.push_back(
            QStringLiteral("20261207_093000_%1.jpg").arg(i, 3, 10, QChar('0')).toStdString());
    }
    for (int i = count - 1; i >= 0; --i) {
        QImage image(64, 48, QImage::Format_RGB32);
        image.fill(QColor(i % 256, 40, 90));
        const QString path = QDir(folder).filePath(QString::fromStdString(names[i]));
        QTest::qVerify(image.save(path, "JPG"), "image.save", "", __FILE__, __LINE__);
    }
    return names;
}

// One tick of the replay timer, without waiting for it.
void Tick(ReplayPlayer& player, int times = 1) {
    for (int i = 0; i < times; ++i) {
        QVERIFY(QMetaObject::invokeMethod(const_cast<QTimer*>(&player.timer()), "timeout",
                                          Qt::DirectConnection));
    }
}

std::string Base(const std::string& path) {
    return QFileInfo(QString::fromStdString(path)).fileName().toStdString();
}

}  // namespace

class ReplayTest : public QObject {
    Q_OBJECT
  private slots:
    void init();
    void opensFramesInNameOrder();
    void speedSteps_data();
    void speedSteps();
    void sliderShowsFrameAndPlayContinues();
    void endOfListKeepsLastFrame();
    void openWhilePlayingKeepsTimer();
    void nothingToPlay_data();
    void nothingToPlay();
    void longFolderPathPlays();
    void badFilesAreLoggedAndNothingIsWritten();
    void barControlsDriveThePlayer();

  private:
    void Use(const QString& folder);

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<CReplayBar> bar_;
    std::vector<std::string> drawn_;
};

void ReplayTest::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    bar_ = std::make_unique<CReplayBar>();
    bar_->player().draw = [this](const std::string& path) {
        drawn_.push_back(path);
        return true;
    };
    drawn_.clear();
    Use(dir_->path());
}

void ReplayTest::Use(const QString& folder) {
    bar_->player().chooseFolder = [folder] { return folder.toStdString(); };
}

void ReplayTest::opensFramesInNameOrder() {
    auto want = MakeFrames(dir_->path(), 4);
    // Byte order: upper case first. Neither a text file nor a folder is a frame.
    for (const char* name : {"b.jpg", "B.jpg"}) {
        QVERIFY(QImage(8, 8, QImage::Format_RGB32).save(dir_->filePath(name), "JPG"));
    }
    WriteFile(dir_->filePath("notes.txt"), "x");
    QVERIFY(QDir(dir_->path()).mkdir("sub.jpg"));
    want.insert(want.end(), {"B.jpg", "b.jpg"});

    auto& player = bar_->player();
    player.Open();
    std::vector<std::string> got;
    for (const auto& [index, name] : player.frames()) {
        QCOMPARE(index, static_cast<int>(got.size()));
        got.push_back(name);
    }
    QCOMPARE(got, want);
    QCOMPARE(player.folder(), dir_->path().toStdString());
    QCOMPARE(bar_->slider()->maximum(), 5);
    QCOMPARE(bar_->stateLabel()->text(), QStringLiteral("6 frames"));
}

void ReplayTest::speedSteps_data() {
    QTest::addColumn<bool>("whilePlaying");
    QTest::addColumn<QString>("presses");  // F = Faster, S = Slower
    QTest::addColumn<int>("speed");
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("interval");

    QTest::newRow("1X") << true << "" << 0 << "1X" << 1000;
    QTest::newRow("faster") << true << "F" << 1 << "2X" << 500;
    QTest::newRow("faster x2") << true << "FF" << 2 << "4X" << 250;
    QTest::newRow("faster x3 wraps") << true << "FFF" << 0 << "1X" << 1000;
    QTest::newRow("slower wraps") << true << "S" << 2 << "4X" << 250;
    QTest::newRow("slower x2") << true << "SS" << 1 << "2X" << 500;
    // Stopped: only the value changes; Play runs at it under the old label.
    QTest::newRow("stopped slower") << false << "S" << 2 << "1X" << 250;
    QTest::newRow("stopped faster") << false << "F" << 1 << "1X" << 500;
}

void ReplayTest::speedSteps() {
    QFETCH(bool, whilePlaying);
    QFETCH(QString, presses);
    QFETCH(int, speed);
    QFETCH(QString, label);
    QFETCH(int, interval);

    MakeFrames(dir_->path(), 3);
    auto& player = bar_->player();
    player.Open();
    if (whilePlaying) {
        player.Play();
    }
    for (QChar c : presses) {
        c == 'F' ? player.Faster() : player.Slower();
        QCOMPARE(player.timer().isActive(), whilePlaying);
    }
    player.Play();
    QCOMPARE(player.speed(), speed);
    QCOMPARE(bar_->speedLabel()->text(), label);
    QCOMPARE(player.timer().interval(), interval);
}

void ReplayTest::sliderShowsFrameAndPlayContinues() {
    const auto names = MakeFrames(dir_->path(), 15);
    auto& player = bar_->player();
    // Before any folder the speed is -1: Slower gives 1.
    player.Slower();
    QCOMPARE(player.speed(), 1);
    player.Open();

    bar_->slider()->setValue(10);  // as a drag would
    QCOMPARE(drawn_.size(), size_t{1});
    QCOMPARE(Base(drawn_.back()), names[10]);

    player.Play();
    Tick(player, 2);
    QCOMPARE(drawn_.size(), size_t{3});
    QCOMPARE(Base(drawn_[1]), names[10]);
    QCOMPARE(Base(drawn_[2]), names[11]);
    QCOMPARE(bar_->slider()->value(), 11);
    QCOMPARE(player.index(), 12);
}

void ReplayTest::endOfListKeepsLastFrame() {
    const auto names = MakeFrames(dir_->path(), 3);
    auto& player = bar_->player();
    player.Open();
    player.Play();
    player.Faster();
    Tick(player, 3);
    QCOMPARE(drawn_.size(), size_t{3});
    QCOMPARE(Base(drawn_.back()), names[2]);
    QVERIFY(player.timer().isActive());

    Tick(player);
    QVERIFY(!player.timer().isActive());
    QVERIFY(!player.playing());
    QCOMPARE(player.index(), 2);
    QCOMPARE(bar_->slider()->value(), 2);

    // Play again: the last frame once more, then stop.
    player.Play();
    Tick(player, 2);
    QCOMPARE(drawn_.size(), size_t{4});
    QCOMPARE(Base(drawn_.back()), names[2]);
    QVERIFY(!player.timer().isActive());
}

void ReplayTest::openWhilePlayingKeepsTimer() {
    const QString second = dir_->filePath("second");
    QVERIFY(QDir().mkpath(second));
    MakeFrames(dir_->path(), 5);
    const auto names = MakeFrames(second, 2);

    auto& player = bar_->player();
    player.Open();
    player.Play();
    player.Faster();
    Tick(player, 2);

    Use(second);
    player.Open();
    QVERIFY(player.timer().isActive());
    QCOMPARE(player.timer().interval(), 500);
    QVERIFY(!player.playing());
    Tick(player);
    QCOMPARE(drawn_.back(), QDir(second).filePath(QString::fromStdString(names[0])).toStdString());

    // Speed changes now wait for Play.
    player.Faster();
    QCOMPARE(bar_->speedLabel()->text(), QStringLiteral("2X"));
    QCOMPARE(player.timer().interval(), 500);
}

void ReplayTest::nothingToPlay_data() {
    QTest::addColumn<QString>("chosen");  // relative to the temporary folder; "-" = cancelled
    QTest::addColumn<QString>("state");
    QTest::newRow("cancelled") << "-"
                               << "No folder";
    QTest::newRow("no jpg files") << "empty"
                                  << "No frames";
    QTest::newRow("missing folder") << "gone"
                                    << "Folder not found";
}

void ReplayTest::nothingToPlay() {
    QFETCH(QString, chosen);
    QFETCH(QString, state);

    MakeFrames(dir_->path(), 3);
    QVERIFY(QDir(dir_->path()).mkdir("empty"));
    WriteFile(dir_->filePath("empty/readme.txt"), "x");
    auto& player = bar_->player();
    player.Open();
    player.Play();
    Tick(player);

    Use(chosen == "-" ? QString() : dir_->filePath(chosen));
    player.Open();
    QVERIFY(player.frames().empty());
    QCOMPARE(bar_->stateLabel()->text(), state);
    QVERIFY(!bar_->slider()->isEnabled());

    // The running timer ends at its next tick and nothing claims to play.
    Tick(player);
    QVERIFY(!player.timer().isActive());
    QVERIFY(!player.playing());

    QSignalSpy started(bar_.get(), &CReplayBar::startedPlaying);
    const auto before = drawn_.size();
    player.SeekTo(1);
    player.Play();
    QVERIFY(!player.timer().isActive());
    QCOMPARE(started.count(), 0);
    QCOMPARE(drawn_.size(), before);
    QCOMPARE(player.index(), 0);
}

void ReplayTest::longFolderPathPlays() {
    QString folder = dir_->path();
    while (folder.size() <= 300) {
        folder += QStringLiteral("/frames_of_a_long_session_kept_for_later");
    }
    QVERIFY(QDir().mkpath(folder));
    const auto names = MakeFrames(folder, 2);

    Use(folder);
    bar_->player().Open();
    bar_->player().Play();
    Tick(bar_->player());
    QCOMPARE(drawn_.size(), size_t{1});
    QCOMPARE(drawn_[0], QDir(folder).filePath(QString::fromStdString(names[0])).toStdString());
    QVERIFY(QFile::exists(QString::fromStdString(drawn_[0])));
}

void ReplayTest::badFilesAreLoggedAndNothingIsWritten() {
    const QString logs = dir_->filePath("logs");
    const QString frames = dir_->filePath("frames");
    QVERIFY(QDir().mkpath(logs));
    QVERIFY(QDir().mkpath(frames));
    MakeFrames(frames, 4);
    WriteFile(QDir(frames).filePath("20261207_093000_001.jpg"), "plain text, not a picture");
    const QString doomed = QDir(frames).filePath("20261207_093000_002.jpg");
    auto listing = [&frames] {
        QStringList out;
        for (const QFileInfo& f : QDir(frames).entryInfoList(QDir::Files | QDir::Hidden))
            out << f.fileName() + ' ' + QString::number(f.size()) + ' ' +
                       QString::number(f.lastModified().toMSecsSinceEpoch());
        return out;
    };

    auto& log = qv::ActivityLog::Instance();
    QCOMPARE(log.Open(logs.toStdString()), 1);
    const QString cwd = QDir::currentPath();
    auto& player = bar_->player();
    std::vector<bool> drawnOk;
    // Drawn at 70 %, where the live loop would write a scaled copy.
    player.draw = [&drawnOk](const std::string& path) {
        drawnOk.push_back(ReplayPlayer::LoadFrame(path, {559, 419}).has_value());
        return drawnOk.back();
    };
    Use(frames);
    player.Open();
    player.Play();
    Tick(player, 2);
    QVERIFY(QFile::remove(doomed));  // gone since the listing
    const QStringList before = listing();
    Tick(player, 2);
    QVERIFY(player.timer().isActive());
    Tick(player);
    QVERIFY(!player.timer().isActive());
    bar_->slider()->setValue(1);
    player.Open();

    const std::string logPath = log.Path();
    log.Close();
    QCOMPARE(drawnOk, (std::vector<bool>{true, false, false, true, false}));
    QFile file(QString::fromStdString(logPath));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll().count("Image Load Failed"), 3);
    QCOMPARE(listing(), before);
    QCOMPARE(QDir::currentPath(), cwd);
}

void ReplayTest::barControlsDriveThePlayer() {
    MakeFrames(dir_->path(), 4);
    const std::pair<int, const char*> buttons[] = {
        {1052, "Replay Open"}, {1053, "◀◀"}, {1054, "■"}, {1055, "▶"}, {1056, "▶▶"}};
    for (const auto& [id, text] : buttons) {
        auto* button = bar_->findChild<QPushButton*>(QStringLiteral("ctrl%1").arg(id));
        QVERIFY2(button != nullptr, text);
        QCOMPARE(button->text(), QString::fromUtf8(text));
    }
    QCOMPARE(bar_->findChild<QLabel*>("ctrl1057"), bar_->speedLabel());
    QCOMPARE(bar_->findChild<QSlider*>("ctrl1059"), bar_->slider());

    auto click = [this](int id) {
        QTest::mouseClick(bar_->findChild<QPushButton*>(QStringLiteral("ctrl%1").arg(id)),
                          Qt::LeftButton);
    };
    auto& player = bar_->player();
    QSignalSpy started(bar_.get(), &CReplayBar::startedPlaying);
    click(1052);
    click(1055);
    QCOMPARE(started.count(), 1);
    click(1056);
    QCOMPARE(bar_->speedLabel()->text(), QStringLiteral("2X"));
    click(1053);
    QCOMPARE(bar_->speedLabel()->text(), QStringLiteral("1X"));
    click(1054);
    QVERIFY(!player.timer().isActive());

    // Live streaming takes the picture from a playing replay.
    click(1055);
    QCOMPARE(started.count(), 2);
    bar_->StopPlayback();
    QVERIFY(!player.timer().isActive());
    QVERIFY(!player.playing());
}

QTEST_MAIN(ReplayTest)
#include "tst_replay.moc"
