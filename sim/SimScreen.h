// The simulated instrument's display: a spectrum analyser screen that reacts to key
// commands, rendered to JPEG for every screen request. Not thread-safe; its owner locks.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

class QImage;

namespace qv::sim {

class SimScreen {
  public:
    static constexpr int kTracePoints = 401;
    static constexpr int kMarkerStep = 5;

    SimScreen(int width, int height);

    int width() const { return width_; }
    int height() const { return height_; }
    void SetModel(std::string model) { model_ = std::move(model); }
    const std::string& model() const { return model_; }

    // Applies one command text as the instrument would ("KEYP:LEFT", "KEYP 120,200", ...).
    void Apply(std::string_view command);

    // Draws the next frame (the noise moves on each call) and returns it as JPEG bytes.
    std::vector<std::uint8_t> Render();
    // The frame as an image, for callers that need pixels rather than a file.
    QImage RenderImage();

    // Commands applied so far. Every frame carries the count, modulo 2^16, in a strip of cells
    // at its bottom-left corner, so a client can tell which frame first shows a command.
    std::uint64_t commandCount() const { return commands_; }
    // The count a drawn frame carries, read from the picture at whatever size it was drawn
    // (it was made width x height); nothing when the strip is not there.
    static std::optional<int> ReadCommandStamp(const QImage& drawn, int width, int height);

    int markerIndex() const { return marker_; }
    int jpegQuality() const { return quality_; }
    const std::string& entry() const { return entry_; }
    std::uint64_t frameNumber() const { return frame_; }

  private:
    double FrequencyAt(int point) const;
    double LevelAt(int point);

    int width_;
    int height_;
    std::string model_ = "QV392B";
    std::string lastCommand_ = "(none)";
    std::string entry_;
    std::string menu_ = "FREQ";
    int marker_ = kTracePoints / 2;
    int softKey_ = 0;
    int quality_ = 80;
    bool hold_ = false;
    double centerMHz_ = 2437.0;
    double spanMHz_ = 100.0;
    std::optional<std::pair<int, int>> touch_;
    std::uint64_t frame_ = 0;
    std::uint64_t commands_ = 0;
    std::vector<double> trace_;
    std::minstd_rand noise_{12345};
};

}  // namespace qv::sim
