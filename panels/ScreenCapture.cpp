#include "panels/ScreenCapture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QStandardPaths>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>

#include "link/Files.h"
#include "panels/ImageServices.h"
#include "session/ActivityLog.h"

namespace {

constexpr int kMaxFrames = 99'999'999;  // kFrameDigits digits

std::string Encoded(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QString Reason(int error) {
    return QString::fromStdString(std::generic_category().message(error));
}

// The home folder as "~", so a note fits its pane.
QString Short(const QString& path) {
    const QString home = QDir::homePath();
    if (!home.isEmpty() && home != QLatin1String("/") && path.startsWith(home + QLatin1Char('/'))) {
        return QLatin1Char('~') + path.mid(home.size());
    }
    return path;
}

QString Stamp(const std::tm& local) {
    return QString::fromStdString(qv::FileStamp(local));
}

// Fills a file just made (fd, called name in dirFd) and closes it; a file that could not be
// written whole is removed. 0 or an errno value.
int FillNewFile(int fd, int dirFd, const std::string& name, const std::vector<std::uint8_t>& bytes,
                const qv::WriteFn& write) {
    int error = qv::WriteAll(fd, bytes.data(), bytes.size(), write);
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlinkat(dirFd, name.c_str(), 0);
    }
    return error;
}

}  // namespace

// One recording: its folder, open while a frame of it may still be written, and its counts.
struct ScreenCapture::Take {
    Take(int fd, QString path) : dirFd(fd), folder(std::move(path)) {}
    ~Take() { ::close(dirFd); }
    Take(const Take&) = delete;
    Take& operator=(const Take&) = delete;

    const int dirFd;
    const QString folder;
    int queued = 0;   // frames numbered so far
    int written = 0;  // frames on disk
    int error = 0;    // what ended it, or 0
};

ScreenCapture::ScreenCapture(QObject* parent) : QObject(parent) {
    writer_ = std::thread([this] { WriterLoop(); });
}

ScreenCapture::~ScreenCapture() {
    {
        std::lock_guard hold(lock_);
        closing_ = true;
        recording_.reset();
    }
    changed_.notify_all();
    // Frames already queued are written: the write under way, then the few waiting.
    writer_.join();
}

void ScreenCapture::SetRecordWriter(WriteFn write) {
    std::lock_guard hold(lock_);
    write_ = std::move(write);
}

QString ScreenCapture::Folder() {
    QString pictures = qEnvironmentVariable("XDG_PICTURES_DIR");
    if (pictures.isEmpty() || !QDir::isAbsolutePath(pictures)) {
        // The desktop's own choice (user-dirs.dirs), else ~/Pictures.
        pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    }
    if (pictures.isEmpty()) {
        pictures = QDir::homePath() + QStringLiteral("/Pictures");
    }
    return QDir::cleanPath(pictures + QStringLiteral("/QVRemote"));
}

QString ScreenCapture::ShortPath(const QString& path) {
    return Short(path);
}

QString ScreenCapture::SaveName(const QString& model, const std::tm& local) {
    QString name;
    for (const QChar c : model.left(40)) {
        const bool plain = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                           (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                           (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                           c == QLatin1Char('-') || c == QLatin1Char('_');
        name += plain ? c : QLatin1Char('_');
    }
    if (name.isEmpty()) {
        name = QStringLiteral("screen");
    }
    return name + QLatin1Char('_') + Stamp(local) + QStringLiteral(".jpg");
}

void ScreenCapture::FrameDrawn(const Frame& jpeg) {
    if (!jpeg) {
        return;
    }
    int millis = 0;
    const std::tm t = qv::LocalNow(&millis);  // outside the lock: it may read the time zone file
    std::unique_lock hold(lock_);
    last_ = jpeg;
    if (!recording_) {
        return;
    }
    changed_.wait(hold, [this] { return queue_.size() < kQueuedFrames || !recording_; });
    if (!recording_) {
        return;
    }
    Take& recording = *recording_;
    std::string name;  // none past the last number: the writer ends the recording there
    if (recording.queued < kMaxFrames) {
        // The number first: names sort in the order the frames came, whatever the clock does.
        std::array<char, 48> text{};
        std::snprintf(text.data(), text.size(), "%0*d_%02d%02d%02d_%03d.jpg", kFrameDigits,
                      recording.queued + 1, t.tm_hour, t.tm_min, t.tm_sec, millis);
        name = text.data();
    }
    ++recording.queued;
    queue_.push_back(Job{recording_, std::move(name), jpeg});
    hold.unlock();
    changed_.notify_all();
}

bool ScreenCapture::Pending(const Take& recording) const {
    return writing_ == &recording || std::any_of(queue_.begin(), queue_.end(), [&](const Job& job) {
               return job.recording.get() == &recording;
           });
}

void ScreenCapture::WriterLoop() {
    std::unique_lock hold(lock_);
    for (;;) {
        changed_.wait(hold, [this] { return closing_ || !queue_.empty(); });
        if (queue_.empty()) {
            return;
        }
        Job job = std::move(queue_.front());
        queue_.pop_front();
        changed_.notify_all();
        Take& recording = *job.recording;
        // After a failed frame the recording keeps what it has and writes nothing more.
        if (recording.error != 0) {
            continue;
        }
        writing_ = &recording;
        const WriteFn write = write_;
        hold.unlock();
        int error = EFBIG;
        if (!job.name.empty()) {
            const int fd = qv::CreateNewFile(recording.dirFd, job.name);
            error = fd < 0 ? -fd : FillNewFile(fd, recording.dirFd, job.name, *job.jpeg, write);
        }
        hold.lock();
        writing_ = nullptr;
        if (error == 0) {
            ++recording.written;
        } else {
            recording.error = error;
            if (recording_ == job.recording) {
                recording_.reset();
                changed_.notify_all();
            }
        }
        const bool current = recording_ == job.recording;
        const bool ended = error != 0 || (!current && !Pending(recording));
        if (closing_ || (!current && !ended)) {
            continue;
        }
        const int frames = recording.written;
        hold.unlock();
        if (current) {
            emit recordingChanged(true, frames);
        } else {
            Finished(error, frames, recording.folder);
        }
        hold.lock();
    }
}

void ScreenCapture::Finished(int error, int frames, const QString& folder) {
    emit recordingChanged(false, frames);
    if (error == 0) {
        emit note(tr("Recorded %1 frames in %2").arg(frames).arg(Short(folder)), kNoteSeconds);
        return;
    }
    // What was written stays; the frame that did not fit is gone whole.
    const QString text = tr("Recording stopped: %1; %2 frames kept in %3")
                             .arg(Reason(error))
                             .arg(frames)
                             .arg(Short(folder));
    qv::ActivityLog::Instance().Write(text.toStdString());
    emit note(text, kProblemSeconds);
}

ScreenCapture::Frame ScreenCapture::LastFrame() const {
    std::lock_guard hold(lock_);
    return last_;
}

QString ScreenCapture::SaveScreen(const QString& model) {
    const Frame frame = LastFrame();
    if (!frame) {
        emit note(tr("No screen to save yet"), kNoteSeconds);
        return {};
    }
    const QString folder = Folder();
    int error = qv::MakePrivateFolders(Encoded(folder));
    QString path;
    if (error == 0) {
        // Two saves in one second keep both.
        std::string taken;
        const int fd = qv::CreateNumberedFile(
            AT_FDCWD, Encoded(folder + QLatin1Char('/') + SaveName(model, qv::LocalNow())), taken);
        error = fd < 0 ? -fd : FillNewFile(fd, AT_FDCWD, taken, *frame, {});
        path = QFile::decodeName(taken.c_str());
    }
    if (error != 0) {
        const QString text =
            tr("Cannot save the screen in %1: %2").arg(Short(folder), Reason(error));
        qv::ActivityLog::Instance().Write(text.toStdString());
        emit note(text, kProblemSeconds);
        return {};
    }
    emit note(tr("Saved to %1").arg(Short(path)), kNoteSeconds);
    return path;
}

bool ScreenCapture::CopyScreen() {
    const Frame frame = LastFrame();
    if (!frame) {
        emit note(tr("No screen to copy yet"), kNoteSeconds);
        return false;
    }
    const auto image = qv::ImageServices::DecodeBytes(frame->data(), frame->size());
    if (!image) {
        emit note(tr("Cannot copy the screen: it does not decode"), kProblemSeconds);
        return false;
    }
    auto* mime = new QMimeData;
    mime->setImageData(*image);
    mime->setData(QStringLiteral("image/jpeg"),
                  QByteArray(reinterpret_cast<const char*>(frame->data()),
                             static_cast<qsizetype>(frame->size())));
    QGuiApplication::clipboard()->setMimeData(mime);
    emit note(tr("Screen copied"), kNoteSeconds);
    return true;
}

bool ScreenCapture::StartRecording() {
    if (Recording()) {
        return true;
    }
    const QString folder = Folder();
    int error = qv::MakePrivateFolders(Encoded(folder));
    QString path;
    int fd = -1;
    if (error == 0) {
        const std::string name = Encoded(folder + QStringLiteral("/rec_") + Stamp(qv::LocalNow()));
        for (int n = 1; n <= qv::kMaxNumberedName; ++n) {
            path = QFile::decodeName(qv::NumberedName(name, n).c_str());
            // mkdir makes a new folder or fails: nothing planted is taken over.
            if (::mkdir(Encoded(path).c_str(), 0700) == 0) {
                error = 0;
                break;
            }
            error = errno;
            if (error != EEXIST) {
                break;
            }
        }
        if (error == 0) {
            fd = ::open(Encoded(path).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            error = fd < 0 ? errno : 0;
        }
    }
    if (error != 0) {
        const QString text = tr("Cannot record in %1: %2").arg(Short(folder), Reason(error));
        qv::ActivityLog::Instance().Write(text.toStdString());
        emit note(text, kProblemSeconds);
        return false;
    }
    {
        std::lock_guard hold(lock_);
        recording_ = std::make_shared<Take>(fd, path);
        lastRecording_ = recording_;
    }
    emit recordingChanged(true, 0);
    return true;
}

void ScreenCapture::StopRecording() {
    int frames = 0;
    QString folder;
    bool pending = false;
    {
        std::lock_guard hold(lock_);
        if (!recording_) {
            return;
        }
        frames = recording_->written;
        folder = recording_->folder;
        // The writer sends the note after the recording's last queued frame.
        pending = Pending(*recording_);
        recording_.reset();
    }
    changed_.notify_all();
    if (pending) {
        emit recordingChanged(false, frames);
    } else {
        Finished(0, frames, folder);
    }
}

bool ScreenCapture::Recording() const {
    std::lock_guard hold(lock_);
    return recording_ != nullptr;
}

int ScreenCapture::RecordedFrames() const {
    std::lock_guard hold(lock_);
    return lastRecording_ ? lastRecording_->written : 0;
}

QString ScreenCapture::RecordingFolder() const {
    std::lock_guard hold(lock_);
    return lastRecording_ ? lastRecording_->folder : QString();
}
