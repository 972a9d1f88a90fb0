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

ScreenCapture::ScreenCapture(QObject* parent) : QObject(parent) {}

ScreenCapture::~ScreenCapture() {
    std::lock_guard hold(lock_);
    CloseRecording();
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
    int frames = 0;
    int error = 0;
    QString folder;
    {
        std::lock_guard hold(lock_);
        last_ = jpeg;
        if (dirFd_ < 0) {
            return;
        }
        error = WriteRecorded(*jpeg);
        frames = recFrames_;
        if (error != 0) {
            folder = recFolder_;
            CloseRecording();
        }
    }
    if (error == 0) {
        emit recordingChanged(true, frames);
        return;
    }
    // What was written stays; the frame that did not fit is gone whole.
    const QString text = tr("Recording stopped: %1; %2 frames kept in %3")
                             .arg(Reason(error))
                             .arg(frames)
                             .arg(Short(folder));
    qv::ActivityLog::Instance().Write(text.toStdString());
    emit recordingChanged(false, frames);
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
        dirFd_ = fd;
        recFolder_ = path;
        recFrames_ = 0;
    }
    emit recordingChanged(true, 0);
    return true;
}

void ScreenCapture::StopRecording() {
    int frames = 0;
    QString folder;
    {
        std::lock_guard hold(lock_);
        if (dirFd_ < 0) {
            return;
        }
        frames = recFrames_;
        folder = recFolder_;
        CloseRecording();
    }
    emit recordingChanged(false, frames);
    emit note(tr("Recorded %1 frames in %2").arg(frames).arg(Short(folder)), kNoteSeconds);
}

bool ScreenCapture::Recording() const {
    std::lock_guard hold(lock_);
    return dirFd_ >= 0;
}

int ScreenCapture::RecordedFrames() const {
    std::lock_guard hold(lock_);
    return recFrames_;
}

QString ScreenCapture::RecordingFolder() const {
    std::lock_guard hold(lock_);
    return recFolder_;
}

int ScreenCapture::WriteRecorded(const std::vector<std::uint8_t>& jpeg) {
    if (recFrames_ >= kMaxFrames) {
        return EFBIG;
    }
    int millis = 0;
    const std::tm t = qv::LocalNow(&millis);
    // The number first: names sort in the order the frames came, whatever the clock does.
    std::array<char, 48> name{};
    std::snprintf(name.data(), name.size(), "%0*d_%02d%02d%02d_%03d.jpg", kFrameDigits,
                  recFrames_ + 1, t.tm_hour, t.tm_min, t.tm_sec, millis);
    const int fd = qv::CreateNewFile(dirFd_, name.data());
    const int error = fd < 0 ? -fd : FillNewFile(fd, dirFd_, name.data(), jpeg, write_);
    if (error == 0) {
        ++recFrames_;
    }
    return error;
}

void ScreenCapture::CloseRecording() {
    if (dirFd_ >= 0) {
        ::close(dirFd_);
        dirFd_ = -1;
    }
}
