// The simulated instrument's protocol side, independent of the transport: takes one decoded
// request frame and returns the answer as encoded frames. Thread-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "link/FrameAssembler.h"
#include "sim/SimFaults.h"
#include "sim/SimScreen.h"

namespace qv::sim {

using SimClock = std::chrono::steady_clock;
using Frames = std::vector<std::vector<std::uint8_t>>;

struct RequestRecord {
    std::uint8_t code = 0;
    SimClock::time_point at;
};

struct CommandRecord {
    std::string text;  // without the line feed
    SimClock::time_point at;
};

class SimInstrument {
  public:
    explicit SimInstrument(int width = 800, int height = 600);

    // maxFrameBytes bounds each encoded answer frame (a USB block); 0 = the largest payload.
    Frames Handle(const FrameView& request, std::size_t maxFrameBytes = 0);

    void SetFaults(const SimFaults& faults);
    SimFaults faults() const;
    void SetModel(std::string model);
    std::string model() const;
    // Screens answer with exactly these bytes instead of a rendering; nullopt renders again.
    void SetScreenOverride(std::optional<std::vector<std::uint8_t>> bytes);
    // Requests with this code answer with these bytes under this code (a file list, an
    // error code, an empty equipment answer...) instead of the usual; nullopt removes it.
    void SetAnswer(std::uint8_t code, std::optional<std::vector<std::uint8_t>> bytes);
    // The next frame of the live picture as JPEG.
    std::vector<std::uint8_t> RenderScreen();
    int width() const { return width_; }
    int height() const { return height_; }

    // Keeps a copy of the last n screens served (0, the default, keeps none): tests compare
    // what a client saved with what it was sent.
    void KeepServedScreens(std::size_t n);
    std::vector<std::vector<std::uint8_t>> ServedScreens() const;

    // The requests and commands received since ClearRecords, oldest first: the last
    // kKeptRecords of each, so a simulator that runs for days holds a bounded record.
    static constexpr std::size_t kKeptRecords = 1000;
    std::vector<RequestRecord> Requests() const;
    std::vector<CommandRecord> Commands() const;
    std::string LastCommand() const;
    // The text of a command request: its payload up to the line feed.
    static std::string CommandText(const FrameView& request);
    // Commands received since ClearRecords, also those no longer kept.
    std::uint64_t CommandCount() const;
    // Blocks until at least n commands have been received or the time-out passes.
    bool WaitForCommands(std::size_t n, std::chrono::milliseconds timeout) const;
    void ClearRecords();

    // Splits bytes into answer frames of at most kMaxPayload (count and index set), applying
    // the content faults. Exposed so other transports answer the same way.
    Frames BuildAnswer(std::uint8_t code, const std::vector<std::uint8_t>& data, bool screen,
                       std::size_t maxFrameBytes = 0);

  private:
    std::vector<std::uint8_t> ScreenBytes();
    void CorruptChecksum(std::vector<std::uint8_t>& frame) const;

    const int width_;
    const int height_;
    mutable std::mutex lock_;
    mutable std::condition_variable commandArrived_;
    SimFaults faults_;
    SimScreen screen_;
    std::optional<std::vector<std::uint8_t>> override_;
    std::map<std::uint8_t, std::vector<std::uint8_t>> answers_;
    std::deque<RequestRecord> requests_;
    std::deque<CommandRecord> commands_;
    std::uint64_t commandCount_ = 0;
    std::uint64_t framesBuilt_ = 0;
    std::size_t keepServed_ = 0;
    std::deque<std::vector<std::uint8_t>> served_;
    // A fixed screen's frames are encoded once, as an instrument serves a file it holds.
    Frames overrideFrames_;
    std::uint64_t generation_ = 0;  // bumped when the override or the faults change
};

}  // namespace qv::sim
