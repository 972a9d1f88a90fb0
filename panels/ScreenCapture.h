// Keeping what the instrument shows. The last frame drawn is held as the instrument sent it:
// Save writes those bytes as they are, Copy puts the picture on the clipboard. A recording
// writes every frame drawn into a folder of its own, named so that the replay player plays
// them in the order they came.
//
// Files go to $XDG_PICTURES_DIR/QVRemote (else the user's pictures folder, ~/Pictures, and
// QVRemote in it): folders made 0700, files created exclusively, 0600, never through a link.
#pragma once

#include <sys/types.h>

#include <QObject>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <vector>

#include "link/Files.h"

class ScreenCapture : public QObject {
    Q_OBJECT
  public:
    using Frame = std::shared_ptr<const std::vector<std::uint8_t>>;
    using WriteFn = qv::WriteFn;

    // How long pane 0 shows a note.
    static constexpr int kNoteSeconds = 5;
    static constexpr int kProblemSeconds = 10;
    // Recorded frames are numbered with this many digits, so names sort in order.
    static constexpr int kFrameDigits = 8;

    explicit ScreenCapture(QObject* parent = nullptr);
    ~ScreenCapture() override;
    ScreenCapture(const ScreenCapture&) = delete;
    ScreenCapture& operator=(const ScreenCapture&) = delete;

    // Any thread (the screen loop's worker): a frame was drawn from these bytes, the screen
    // as received. While recording it is written to the recording's folder.
    void FrameDrawn(const Frame& jpeg);
    // The last frame drawn; empty before the first.
    Frame LastFrame() const;

    // Where saved screens and recordings go.
    static QString Folder();
    // A path for a note: the home folder as "~".
    static QString ShortPath(const QString& path);
    // "<model>_YYYYMMDD_HHMMSS.jpg"; the model name is kept to letters, digits, '-' and '_'.
    static QString SaveName(const QString& model, const std::tm& local);

    // Writes the last frame into Folder(). The file's path, or empty; pane 0's note says where
    // or why not.
    QString SaveScreen(const QString& model);
    // Puts the last frame on the clipboard (the picture, and the JPEG as received).
    bool CopyScreen();

    // Makes the folder rec_YYYYMMDD_HHMMSS in Folder() and records into it. False (with a
    // note) when the folder cannot be made.
    bool StartRecording();
    // Ends a recording; the note says how many frames went where. Nothing when not recording.
    void StopRecording();
    bool Recording() const;
    int RecordedFrames() const;
    QString RecordingFolder() const;

    // Tests only: how recorded frames are written (write(2) unless set).
    void SetRecordWriter(WriteFn write);

  signals:
    // A text for status pane 0 for some seconds.
    void note(const QString& text, int seconds);
    // A recording started, kept a frame (frames so far) or ended. From any thread.
    void recordingChanged(bool recording, int frames);

  private:
    // Writes one frame into the recording's folder; 0 or an errno value. Under lock_.
    int WriteRecorded(const std::vector<std::uint8_t>& jpeg);
    void CloseRecording();  // under lock_

    mutable std::mutex lock_;
    Frame last_;
    int dirFd_ = -1;  // the recording's folder while recording
    QString recFolder_;
    int recFrames_ = 0;
    WriteFn write_;
};
