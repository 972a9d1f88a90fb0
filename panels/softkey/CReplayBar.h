// The replay controls as one compact bar the soft-key panel shows below itself: open, slower,
// stop, play, faster, the speed label, the position slider and "Export video…" (the open
// folder to a video file), each named "ctrl<id>".
#pragma once

#include <QWidget>

#include "panels/softkey/ReplayPlayer.h"

class QLabel;
class QPushButton;
class QSlider;

class CReplayBar : public QWidget {
    Q_OBJECT
  public:
    explicit CReplayBar(QWidget* parent = nullptr);
    ~CReplayBar() override;

    ReplayPlayer& player() { return *player_; }
    QSlider* slider() const { return slider_; }
    QLabel* speedLabel() const { return speedLabel_; }
    QLabel* stateLabel() const { return stateLabel_; }

  public slots:
    // Live streaming takes the screen picture: replay stops where it is.
    void StopPlayback();

  signals:
    // Play was pressed and frames are coming: the panel stops live streaming.
    void startedPlaying();
    // "Export video…" for the open folder.
    void exportRequested(const QString& folder);

  private:
    QPushButton* AddButton(int id, const QString& text);
    void UpdateEnabled();

    ReplayPlayer* player_;
    QSlider* slider_;
    QLabel* speedLabel_;
    QLabel* stateLabel_;
};
