// The screen picture: shows the last frame the screen loop finished. Frames arrive from the
// worker through a queued call; painting happens on the window's thread only. Over the frame
// it says when the picture is not live: a link that is healing, or no new frame for a while.
#pragma once

#include <QImage>
#include <QTimer>
#include <QWidget>
#include <functional>

class CScreenView : public QWidget {
    Q_OBJECT
  public:
    // No new frame for this long while frames are expected: the picture is marked stale.
    static constexpr int kStaleAfterMs = 3000;

    explicit CScreenView(QSize size, QWidget* parent = nullptr);

    // Thread-safe: queues the frame for the window's thread.
    void PostFrame(QImage frame);
    const QImage& frame() const { return frame_; }
    int framesShown() const { return framesShown_; }

    // A text over the dimmed frame (the link healing); empty for none.
    void SetOverlay(const QString& text);
    // Frames are expected now (remote control on a live link); only then does a frame age.
    void SetLive(bool live);
    // What is drawn over the frame now: the overlay, the stale mark, or nothing.
    QString Mark() const;
    // Milliseconds on a monotonic clock; tests give one they move.
    using Clock = std::function<qint64()>;
    void SetClock(Clock clock);
    // Looks at the frame's age now. A timer does it every half second while frames are
    // expected.
    void CheckAge();

  signals:
    void frameShown();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void ShowFrame(const QImage& frame);

    QImage frame_;
    int framesShown_ = 0;
    QString overlay_;
    bool live_ = false;
    Clock clock_;
    qint64 lastFrameAt_ = 0;  // or since frames were first expected
    QTimer ageTimer_;
    QString stale_;  // "last frame N s ago", or empty
};
