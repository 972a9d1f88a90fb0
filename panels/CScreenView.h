// The screen picture: shows the last frame the screen loop finished. Frames arrive from the
// worker through a queued call; painting happens on the window's thread only.
#pragma once

#include <QImage>
#include <QWidget>

class CScreenView : public QWidget {
    Q_OBJECT
  public:
    explicit CScreenView(QSize size, QWidget* parent = nullptr);

    // Thread-safe: queues the frame for the window's thread.
    void PostFrame(QImage frame);
    const QImage& frame() const { return frame_; }
    int framesShown() const { return framesShown_; }

  signals:
    void frameShown();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void ShowFrame(const QImage& frame);

    QImage frame_;
    int framesShown_ = 0;
};
