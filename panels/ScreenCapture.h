// Keeping what the instrument shows. The last frame drawn is held as the instrument sent it:
// Save writes those bytes as they are, Copy puts the picture on the clipboard. A recording
// writes every frame drawn into a folder of its own, named so that the replay player plays
// them in the order they came.
//
// Files go to $XDG_PICTURES_DIR/QVRemote (else the user's pictures folder, ~/Pictures, and
// QVRemote in it): folders made 0700, files created exclusively, 0600, never through a link.
//
// Recorded frames are written by a thread of their own, never under the lock the window's
// state changes take: Start, Stop and the questions below return at once whatever the disk
// does. Frames wait for the writer in a short queue; when it is full the drawing thread
// waits for room (a stop ends that wait), so a recording keeps every frame drawn.
#pragma once

#include <sys/types.h>

#include <QObject>
#include <QString>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
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
    // Frames drawn but not yet written; about a second of the fastest stream.
    static constexpr std::size_t kQueuedFrames = 24;

    explicit ScreenCapture(QObject* parent = nullptr);
    ~ScreenCapture() override;
    ScreenCapture(const ScreenCapture&) = delete;
    ScreenCapture& operator=(const ScreenCapture&) = delete;

    // Any thread but the window's (the screen loop's worker): a frame was drawn from these
    // bytes, the screen as received. While recording it is queued for the recording's folder;
    // with the queue full this waits for room or for the recording to end.
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
    // Ends a recording at once: no frame drawn from now on goes into it. Frames already queued
    // are still written; then the note says how many frames went where. Nothing when not
    // recording.
    void StopRecording();
    bool Recording() const;
    // Frames written so far into the recording under way, or the last one.
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
    struct Take;
    struct Job {
        std::shared_ptr<Take> recording;
        std::string name;
        Frame jpeg;
    };

    void WriterLoop();
    // Under lock_: whether the writer still has a frame of this recording to write.
    bool Pending(const Take& recording) const;
    // A recording's end once nothing of it is left to write: the signal and the note.
    void Finished(int error, int frames, const QString& folder);

    // Guards everything below; never held while a frame is written.
    mutable std::mutex lock_;
    std::condition_variable changed_;
    Frame last_;
    std::shared_ptr<Take> recording_;  // the one under way, else null
    std::shared_ptr<Take> lastRecording_;
    std::deque<Job> queue_;
    const Take* writing_ = nullptr;  // whose frame the writer has in hand
    bool closing_ = false;
    WriteFn write_;
    std::thread writer_;
};
