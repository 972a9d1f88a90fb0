// Plays a folder of saved screen pictures ("*.jpg") into the panel's screen picture, one file
// per tick of the replay timer at 1X, 2X or 4X, with a position the bar's slider follows.
// Reads the folder only: never writes, renames or deletes a file there.
#pragma once

#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>
#include <QTimer>
#include <functional>
#include <map>
#include <optional>
#include <string>

class ReplayPlayer : public QObject {
    Q_OBJECT
  public:
    explicit ReplayPlayer(QObject* parent = nullptr);
    ~ReplayPlayer() override;

    // Decodes and draws one file into the screen picture; false when it could not (the step
    // logs its own failure). Unset: frames are counted as shown but nothing is drawn.
    std::function<bool(const std::string& path)> draw;
    // The folder to open, empty when the choice was cancelled. Default: the folder browser.
    std::function<std::string()> chooseFolder;

    // The five replay commands.
    void Open();
    void Slower();
    void Stop();
    void Play();
    void Faster();
    // The slider was moved or released at position.
    void SeekTo(int position);
    // Shows frame index: 1 when a frame was handed to the drawing step, else 0.
    int ShowReplayFrame(int index);

    const std::map<int, std::string>& frames() const { return ReplayFrames; }
    const std::string& folder() const { return ReplayFolder; }
    int index() const { return ReplayIndex; }
    int speed() const { return ReplaySpeed; }
    bool playing() const { return ReplayPlaying != 0; }
    const QTimer& timer() const { return timer_; }

    // "1X", "2X", "4X"; empty for a speed outside the table.
    static QString SpeedLabel(int speed);
    // 1000, 500, 250 ms; 1000 outside the table.
    static int SpeedInterval(int speed);
    // A replay frame for the screen picture: decoded and stretched to size, nothing written
    // beside the file. Logs "Image Load Failed" when the file cannot be decoded.
    static std::optional<QImage> LoadFrame(const std::string& path, QSize size);

  signals:
    void playingChanged(bool playing);
    // The frame at index was handed to the drawing step.
    void frameShown(int index);
    // A short description of the player's state for the bar ("No folder", "No frames", ...).
    void stateText(const QString& text);
    // The speed label's new text; only sent while playing.
    void speedLabelChanged(const QString& label);
    void sliderRangeChanged(int minimum, int maximum);
    void sliderPositionChanged(int position);

  private:
    void Tick();
    void SetPlaying(int playing);
    void KillTimer();
    void RestartTimer();
    void StepSpeed(int step);

    std::map<int, std::string> ReplayFrames;
    std::string ReplayFolder;
    int ReplayIndex = 0;
    int ReplaySpeed = -1;
    int ReplayPlaying = 0;
    QTimer timer_;
};
