#include "panels/ScreenCapture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
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

#include "panels/ImageServices.h"
#include "session/ActivityLog.h"

namespace {

constexpr int kMaxSuffix = 99;
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

std::tm LocalNow(int* millis = nullptr) {
    timeval now{};
    ::gettimeofday(&now, nullptr);
    std::tm local{};
    const std::time_t seconds = now.tv_sec;
    ::localtime_r(&seconds, &local);
    if (millis != nullptr) {
        *millis = static_cast<int>(now.tv_usec / 1000);
    }
    return local;
}

QString Stamp(const std::tm& t) {
    std::array<char, 32> s{};
    std::snprintf(s.data(), s.size(), "%04d%02d%02d_%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return QString::fromLatin1(s.data());
}

// Makes the folder and any missing parent, each new one 0700; those that exist stay as they
// are. 0 or an errno value.
int MakeFolders(const std::string& path) {
    if (path.empty() || path[0] != '/') {
        return ENOENT;
    }
    for (std::size_t pos = path.find('/', 1);; pos = path.find('/', pos + 1)) {
        const std::string part = path.substr(0, pos);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            return errno;
        }
        if (pos == std::string::npos) {
            break;
        }
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return errno;
    }
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

// 0 or an errno value; a short write with no error is a full device.
int WriteAll(const ScreenCapture::WriteFn& write, int fd, const std::uint8_t* data,
             std::size_t length) {
    while (length > 0) {
        const ssize_t n = write(fd, data, length);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (n == 0) {
            return ENOSPC;
        }
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return 0;
}

// Creates name in the folder dirFd (AT_FDCWD: name is a path) exclusively, 0600, never
// through a link, writes the bytes and closes it. A file that could not be written whole is
// removed. 0 or an errno value; EEXIST when the name is taken.
int WriteNewFile(int dirFd, const std::string& name, const std::vector<std::uint8_t>& bytes,
                 const ScreenCapture::WriteFn& write) {
    const int fd =
        ::openat(dirFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return errno;
    }
    int error = WriteAll(write, fd, bytes.data(), bytes.size());
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlinkat(dirFd, name.c_str(), 0);
    }
    return error;
}

ssize_t SystemWrite(int fd, const std::uint8_t* data, std::size_t size) {
    return ::write(fd, data, size);
}

}  // namespace

ScreenCapture::ScreenCapture(QObject* parent) : QObject(parent), write_(SystemWrite) {}

ScreenCapture::~ScreenCapture() {
    std::lock_guard hold(lock_);
    CloseRecording();
}

void ScreenCapture::SetRecordWriter(WriteFn write) {
    std::lock_guard hold(lock_);
    write_ = write ? std::move(write) : WriteFn(SystemWrite);
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
    int error = MakeFolders(Encoded(folder));
    QString path;
    if (error == 0) {
        const QString name = SaveName(model, LocalNow());
        // Two saves in one second keep both.
        for (int n = 1; n <= kMaxSuffix; ++n) {
            QString candidate = name;
            if (n > 1) {
                candidate.insert(name.size() - 4, QStringLiteral("_%1").arg(n));
            }
            path = folder + QLatin1Char('/') + candidate;
            error = WriteNewFile(AT_FDCWD, Encoded(path), *frame, SystemWrite);
            if (error != EEXIST) {
                break;
            }
        }
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
    int error = MakeFolders(Encoded(folder));
    QString path;
    int fd = -1;
    if (error == 0) {
        const QString name = QStringLiteral("rec_") + Stamp(LocalNow());
        for (int n = 1; n <= kMaxSuffix; ++n) {
            path = folder + QLatin1Char('/') + name;
            if (n > 1) {
                path += QStringLiteral("_%1").arg(n);
            }
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
    const std::tm t = LocalNow(&millis);
    // The number first: names sort in the order the frames came, whatever the clock does.
    std::array<char, 48> name{};
    std::snprintf(name.data(), name.size(), "%0*d_%02d%02d%02d_%03d.jpg", kFrameDigits,
                  recFrames_ + 1, t.tm_hour, t.tm_min, t.tm_sec, millis);
    const int error = WriteNewFile(dirFd_, name.data(), jpeg, write_);
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
