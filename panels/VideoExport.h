// The window's export of a recording to a video file: asks where, then runs the export on a
// thread of its own while a progress dialog shows frames done and time left, with Cancel.
// The window's thread never waits on the disk or the encoder: progress and the end come to it
// as queued calls. Cancel, a failure or closing the window leave no partial file; pane 0 says
// where the file went, or why not.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QProgressDialog>
#include <QString>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

#include "media/Exporter.h"

class QWidget;

class VideoExport : public QObject {
    Q_OBJECT
  public:
    explicit VideoExport(QWidget& window, QObject* parent = nullptr);
    // Cancels a running export and waits for its thread (it stops at its next frame).
    ~VideoExport() override;
    VideoExport(const VideoExport&) = delete;
    VideoExport& operator=(const VideoExport&) = delete;

    // The recording folder to export; empty when the choice was cancelled. Default: the
    // folder browser, in the pictures folder where recordings go.
    std::function<QString()> chooseFolder;
    // The video file for a folder; empty when cancelled. Default: the file dialog, which
    // asks before an existing file is replaced.
    std::function<QString(const QString& folder)> chooseOutput;

    // "Export recording…": picks a folder, then as ExportFolder.
    bool PickAndExport();
    // "Export video…": asks for the file and starts. False when nothing was started.
    bool ExportFolder(const QString& folder);
    // Starts exporting folder to output; replace: the user agreed to replace a file there.
    bool Start(const QString& folder, const QString& output, bool replace);
    bool Running() const { return worker_.joinable(); }
    void Cancel();
    QProgressDialog* dialog() const { return dialog_; }

  signals:
    // A text for status pane 0 for some seconds.
    void note(const QString& text, int seconds);
    // The export ended: written, or cancelled or failed (nothing left behind).
    void finished(bool written, const QString& output);

  private:
    void ShowProgress();
    void Finish(const qv::media::ExportResult& result);

    QWidget& window_;
    std::thread worker_;
    std::atomic<bool> cancel_{false};
    std::mutex lock_;
    qv::media::ExportProgress progress_;  // under lock_
    bool progressQueued_ = false;         // under lock_: one update on its way at a time
    QPointer<QProgressDialog> dialog_;
    QElapsedTimer clock_;
    QString folder_;
    QString output_;
};
