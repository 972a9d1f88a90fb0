#include "panels/softkey/ReplayPlayer.h"

#include <QDir>
#include <QFileDialog>
#include <QWidget>
#include <algorithm>
#include <iterator>
#include <vector>

#include "panels/ImageServices.h"
#include "resources/ids.h"
#include "session/ActivityLog.h"

namespace {

struct Speed {
    const char* label;
    int intervalMs;
};
constexpr Speed kSpeeds[] = {{"1X", 1000}, {"2X", 500}, {"4X", 250}};
constexpr int kSpeedCount = static_cast<int>(std::size(kSpeeds));

}  // namespace

ReplayPlayer::ReplayPlayer(QObject* parent) : QObject(parent) {
    timer_.setObjectName(QStringLiteral("timer%1").arg(qv::ids::kTimerReplay));
    connect(&timer_, &QTimer::timeout, this, &ReplayPlayer::Tick);
    chooseFolder = [this] {
        auto* owner = qobject_cast<QWidget*>(this->parent());
        return QFileDialog::getExistingDirectory(owner, QString::fromUtf8("폴더 선택"), QString(),
                                                 QFileDialog::ShowDirsOnly)
            .toStdString();
    };
}

ReplayPlayer::~ReplayPlayer() = default;

QString ReplayPlayer::SpeedLabel(int speed) {
    if (speed < 0 || speed >= kSpeedCount) {
        return {};
    }
    return QString::fromLatin1(kSpeeds[speed].label);
}

int ReplayPlayer::SpeedInterval(int speed) {
    if (speed < 0 || speed >= kSpeedCount) {
        return 1000;
    }
    return kSpeeds[speed].intervalMs;
}

std::optional<QImage> ReplayPlayer::LoadFrame(const std::string& path, QSize size) {
    const auto decoded = qv::ImageServices::DecodeFile(QString::fromStdString(path));
    if (!decoded) {
        qv::ActivityLog::Instance().Write("Image Load Failed");
        return std::nullopt;
    }
    return qv::ImageServices::Scaled(*decoded, size, true);
}

void ReplayPlayer::Open() {
    // The old list keeps playing while the user chooses: the choice may take longer than a
    // tick, and a running playback goes on with the new list afterwards.
    const std::string chosen = chooseFolder ? chooseFolder() : std::string();

    ReplayFrames.clear();
    ReplayFolder.clear();
    QString state = tr("No folder");
    if (!chosen.empty()) {
        const QDir dir(QString::fromStdString(chosen));
        if (dir.exists()) {
            ReplayFolder = chosen;
            // Listing order is the file system's; byte order of the names puts frame files
            // named by date and time in the order they were saved.
            const QStringList listed =
                dir.entryList({QStringLiteral("*.jpg")}, QDir::Files | QDir::Hidden, QDir::NoSort);
            std::vector<std::string> names;
            names.reserve(static_cast<std::size_t>(listed.size()));
            for (const QString& name : listed) {
                names.push_back(name.toStdString());
            }
            std::sort(names.begin(), names.end());
            int index = 0;
            for (auto& name : names) {
                ReplayFrames.emplace(index++, std::move(name));
            }
            state = ReplayFrames.empty() ? tr("No frames") : tr("%1 frames").arg(index);
        } else {
            state = tr("Folder not found");
        }
    }
    const int count = static_cast<int>(ReplayFrames.size());
    emit sliderRangeChanged(0, std::max(0, count - 1));
    if (ReplayFrames.empty()) {
        emit sliderPositionChanged(0);
    }

    // The timer and the label are left alone: a running playback goes on from frame 0 of the
    // new list, and stops at its first tick when there is none.
    ReplayIndex = 0;
    ReplaySpeed = 0;
    SetPlaying(0);
    emit stateText(state);
}

void ReplayPlayer::Play() {
    if (ReplayFrames.empty()) {
        // Nothing to show: live streaming keeps the screen.
        emit stateText(ReplayFolder.empty() ? tr("No folder") : tr("No frames"));
        return;
    }
    RestartTimer();
    SetPlaying(1);
    emit stateText(tr("Playing"));
}

void ReplayPlayer::Stop() {
    KillTimer();
    SetPlaying(0);
    if (!ReplayFrames.empty()) {
        emit stateText(tr("Stopped"));
    }
}

void ReplayPlayer::Slower() {
    StepSpeed(2);
}

void ReplayPlayer::Faster() {
    StepSpeed(1);
}

void ReplayPlayer::StepSpeed(int step) {
    // Cyclic; from the initial -1 Slower gives 1 and Faster 0.
    ReplaySpeed = (ReplaySpeed + step) % kSpeedCount;
    if (ReplayPlaying == 0) {
        return;
    }
    emit speedLabelChanged(SpeedLabel(ReplaySpeed));
    RestartTimer();
}

void ReplayPlayer::SeekTo(int position) {
    if (ReplayFolder.empty()) {
        return;
    }
    ReplayIndex = position;
    ShowReplayFrame(position);
}

void ReplayPlayer::Tick() {
    if (ReplayFolder.empty()) {
        KillTimer();
        SetPlaying(0);
        return;
    }
    const int i = ReplayIndex;
    ReplayIndex = i + 1;
    if (ShowReplayFrame(i) == 0) {
        KillTimer();
        SetPlaying(0);
        emit stateText(ReplayFrames.empty() ? tr("No frames") : tr("End of frames"));
    }
}

int ReplayPlayer::ShowReplayFrame(int index) {
    const auto count = ReplayFrames.size();
    if (index < 0 || static_cast<std::size_t>(index) >= count) {
        // Past the end: the last frame stays and the next Play shows it once more.
        ReplayIndex = count > 0 ? static_cast<int>(count) - 1 : 0;
        return 0;
    }
    emit sliderPositionChanged(index);
    const auto frame = ReplayFrames.find(index);
    if (frame == ReplayFrames.end()) {
        return 0;
    }
    const std::string path = QDir(QString::fromStdString(ReplayFolder))
                                 .filePath(QString::fromStdString(frame->second))
                                 .toStdString();
    // A file that cannot be drawn (not a JPEG, gone since the listing) is logged by the
    // drawing step and still counts as shown: playback carries on.
    if (draw) {
        draw(path);
    }
    emit frameShown(index);
    return 1;
}

void ReplayPlayer::SetPlaying(int playing) {
    if (ReplayPlaying == playing) {
        return;
    }
    ReplayPlaying = playing;
    emit playingChanged(playing != 0);
}

void ReplayPlayer::KillTimer() {
    timer_.stop();
}

void ReplayPlayer::RestartTimer() {
    timer_.start(SpeedInterval(ReplaySpeed));
}
