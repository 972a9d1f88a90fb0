#include "panels/VideoExport.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QProgressDialog>
#include <cmath>

#include "panels/ScreenCapture.h"
#include "session/ActivityLog.h"

namespace {

constexpr int kNoteSeconds = ScreenCapture::kNoteSeconds;
constexpr int kProblemSeconds = ScreenCapture::kProblemSeconds;

QString Local(const std::string& text) {
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

std::string Encoded(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

}  // namespace

VideoExport::VideoExport(QWidget& window, QObject* parent) : QObject(parent), window_(window) {
    chooseFolder = [this] {
        return QFileDialog::getExistingDirectory(&window_, tr("Export recording"),
                                                 ScreenCapture::Folder());
    };
    chooseOutput = [this](const QString& folder) {
        const QString mp4 = tr("MP4 video, H.264 (*.mp4)");
        const QString mkv = tr("Matroska video, the JPEG frames as recorded (*.mkv)");
        QString filter = mp4;
        QString path = QFileDialog::getSaveFileName(
            &window_, tr("Export video"), QDir::cleanPath(folder) + QStringLiteral(".mp4"),
            mp4 + QStringLiteral(";;") + mkv, &filter);
        if (!path.isEmpty() && !qv::media::KindOfPath(Encoded(path))) {
            path += filter == mkv ? QStringLiteral(".mkv") : QStringLiteral(".mp4");
            // The dialog asked about the name typed, not this one.
            if (QFileInfo(path).exists() || QFileInfo(path).isSymLink()) {
                emit note(tr("%1 exists").arg(ScreenCapture::ShortPath(path)), kProblemSeconds);
                return QString();
            }
        }
        return path;
    };
}

VideoExport::~VideoExport() {
    cancel_ = true;
    if (worker_.joinable()) {
        worker_.join();
    }
}

bool VideoExport::PickAndExport() {
    if (Running()) {
        emit note(tr("An export is under way"), kNoteSeconds);
        return false;
    }
    const QString folder = chooseFolder ? chooseFolder() : QString();
    return !folder.isEmpty() && ExportFolder(folder);
}

bool VideoExport::ExportFolder(const QString& folder) {
    if (Running()) {
        emit note(tr("An export is under way"), kNoteSeconds);
        return false;
    }
    const QString output = chooseOutput ? chooseOutput(folder) : QString();
    // The dialog asked before replacing a file.
    return !output.isEmpty() && Start(folder, output, true);
}

bool VideoExport::Start(const QString& folder, const QString& output, bool replace) {
    if (Running()) {
        return false;
    }
    folder_ = folder;
    output_ = output;
    cancel_ = false;
    {
        std::lock_guard hold(lock_);
        progress_ = {};
        progressQueued_ = false;
    }
    auto* dialog = new QProgressDialog(&window_);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(tr("Export video"));
    dialog->setLabelText(
        tr("Exporting %1\nto %2").arg(QFileInfo(folder).fileName(), QFileInfo(output).fileName()));
    dialog->setCancelButtonText(tr("Cancel"));
    dialog->setAutoClose(false);
    dialog->setAutoReset(false);
    dialog->setMinimumDuration(0);
    dialog->setWindowModality(Qt::NonModal);
    dialog->setRange(0, 0);
    connect(dialog, &QProgressDialog::canceled, this, &VideoExport::Cancel);
    dialog_ = dialog;
    dialog->show();
    clock_.start();

    qv::media::ExportOptions options;
    options.replace = replace;
    options.progress = [this](const qv::media::ExportProgress& p) {
        bool post = false;
        {
            std::lock_guard hold(lock_);
            progress_ = p;
            post = !progressQueued_;
            progressQueued_ = true;
        }
        if (post) {
            QMetaObject::invokeMethod(this, &VideoExport::ShowProgress, Qt::QueuedConnection);
        }
        return !cancel_.load();
    };
    const std::string in = Encoded(folder);
    const std::string out = Encoded(output);
    try {
        worker_ = std::thread([this, in, out, options] {
            const qv::media::ExportResult result = qv::media::ExportRecording(in, out, options);
            QMetaObject::invokeMethod(
                this, [this, result] { Finish(result); }, Qt::QueuedConnection);
        });
    } catch (const std::system_error& e) {
        dialog->close();
        emit note(tr("Export failed: %1").arg(QString::fromLocal8Bit(e.what())), kProblemSeconds);
        return false;
    }
    return true;
}

void VideoExport::Cancel() {
    cancel_ = true;
    if (dialog_) {
        dialog_->setLabelText(tr("Cancelling\u2026"));
    }
}

void VideoExport::ShowProgress() {
    qv::media::ExportProgress p;
    {
        std::lock_guard hold(lock_);
        p = progress_;
        progressQueued_ = false;
    }
    if (!dialog_ || cancel_.load() || p.total <= 0) {
        return;
    }
    dialog_->setRange(0, p.total);
    dialog_->setValue(p.done);
    QString left;
    if (p.done > 0 && p.done < p.total) {
        const double perFrame = static_cast<double>(clock_.elapsed()) / p.done;
        const auto seconds = static_cast<int>(std::lround(perFrame * (p.total - p.done) / 1000.0));
        left = seconds < 60 ? tr(" \u00b7 about %1 s left").arg(std::max(1, seconds))
                            : tr(" \u00b7 about %1 min left").arg((seconds + 30) / 60);
    }
    dialog_->setLabelText(tr("Exporting %1\nto %2\n%3 of %4 frames%5")
                              .arg(QFileInfo(folder_).fileName(), QFileInfo(output_).fileName())
                              .arg(p.done)
                              .arg(p.total)
                              .arg(left));
}

void VideoExport::Finish(const qv::media::ExportResult& result) {
    // The thread has posted this as its last act: the join does not wait on any work.
    if (worker_.joinable()) {
        worker_.join();
    }
    if (dialog_) {
        dialog_->close();
    }
    using Status = qv::media::ExportResult::Status;
    QString text;
    int seconds = kNoteSeconds;
    if (result.status == Status::Done) {
        text = tr("Exported %1 frames to %2")
                   .arg(result.frames)
                   .arg(ScreenCapture::ShortPath(output_));
        if (result.skipped > 0) {
            text += tr(" (%1 unreadable files skipped)").arg(result.skipped);
        }
    } else if (result.status == Status::Cancelled) {
        text = tr("Export cancelled; nothing was written");
    } else {
        const std::string why = result.frames > 0 || result.diskFull
                                    ? qv::media::WriteFailureText(result.error, result.diskFull)
                                    : result.error;
        text = tr("Export failed: %1").arg(Local(why));
        seconds = kProblemSeconds;
    }
    qv::ActivityLog::Instance().Write(text.toStdString());
    emit note(text, seconds);
    emit finished(result.status == Status::Done, output_);
}
