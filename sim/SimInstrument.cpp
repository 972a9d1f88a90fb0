#include "sim/SimInstrument.h"

#include <algorithm>
#include <cstring>

#include "link/CommandSet.h"
#include "link/FrameCodec.h"

namespace qv::sim {
namespace {

constexpr std::size_t kOversizedPayload = 5000;
constexpr std::size_t kOverLimitFrames = 98;

std::vector<std::uint8_t> Encode(const FrameHeader& header, std::span<const std::uint8_t> payload) {
    std::vector<std::uint8_t> out(EncodedFrameSize(header, payload));
    out.resize(EncodeFrame(header, payload, out));
    return out;
}

}  // namespace

SimInstrument::SimInstrument(int width, int height)
    : width_(width), height_(height), screen_(width, height) {}

void SimInstrument::SetFaults(const SimFaults& faults) {
    std::lock_guard lock(lock_);
    faults_ = faults;
    overrideFrames_.clear();
    ++generation_;
}

SimFaults SimInstrument::faults() const {
    std::lock_guard lock(lock_);
    return faults_;
}

void SimInstrument::SetModel(std::string model) {
    std::lock_guard lock(lock_);
    screen_.SetModel(std::move(model));
}

std::string SimInstrument::model() const {
    std::lock_guard lock(lock_);
    return screen_.model();
}

void SimInstrument::SetScreenOverride(std::optional<std::vector<std::uint8_t>> bytes) {
    std::lock_guard lock(lock_);
    override_ = std::move(bytes);
    overrideFrames_.clear();
    ++generation_;
}

void SimInstrument::SetAnswer(std::uint8_t code, std::optional<std::vector<std::uint8_t>> bytes) {
    std::lock_guard lock(lock_);
    if (bytes) {
        answers_[code] = std::move(*bytes);
    } else {
        answers_.erase(code);
    }
}

std::vector<std::uint8_t> SimInstrument::RenderScreen() {
    std::lock_guard lock(lock_);
    return screen_.Render();
}

std::vector<RequestRecord> SimInstrument::Requests() const {
    std::lock_guard lock(lock_);
    return {requests_.begin(), requests_.end()};
}

std::vector<CommandRecord> SimInstrument::Commands() const {
    std::lock_guard lock(lock_);
    return {commands_.begin(), commands_.end()};
}

std::uint64_t SimInstrument::CommandCount() const {
    std::lock_guard lock(lock_);
    return commandCount_;
}

std::string SimInstrument::CommandText(const FrameView& request) {
    // text, line feed, zero: the instrument takes the text up to the line feed.
    const auto& p = request.payload;
    const auto end =
        std::find_if(p.begin(), p.end(), [](std::uint8_t b) { return b == 0 || b == '\n'; });
    return {p.begin(), end};
}

std::string SimInstrument::LastCommand() const {
    std::lock_guard lock(lock_);
    return commands_.empty() ? std::string() : commands_.back().text;
}

bool SimInstrument::WaitForCommands(std::size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(lock_);
    return commandArrived_.wait_for(lock, timeout, [&] { return commandCount_ >= n; });
}

void SimInstrument::ClearRecords() {
    std::lock_guard lock(lock_);
    requests_.clear();
    commands_.clear();
    commandCount_ = 0;
}

void SimInstrument::KeepServedScreens(std::size_t n) {
    std::lock_guard lock(lock_);
    keepServed_ = n;
    while (served_.size() > keepServed_) {
        served_.pop_front();
    }
}

std::vector<std::vector<std::uint8_t>> SimInstrument::ServedScreens() const {
    std::lock_guard lock(lock_);
    return {served_.begin(), served_.end()};
}

std::vector<std::uint8_t> SimInstrument::ScreenBytes() {
    std::lock_guard lock(lock_);
    std::vector<std::uint8_t> bytes = override_ ? *override_ : screen_.Render();
    if (keepServed_ > 0) {
        if (served_.size() >= keepServed_) {
            served_.pop_front();
        }
        served_.push_back(bytes);
    }
    return bytes;
}

Frames SimInstrument::Handle(const FrameView& request, std::size_t maxFrameBytes) {
    const std::uint8_t code = request.header.code;
    {
        std::lock_guard lock(lock_);
        if (requests_.size() == kKeptRecords) {
            requests_.pop_front();
        }
        requests_.push_back({code, SimClock::now()});
    }
    if (request.header.cmd != kCmdRequest) {
        return {};
    }
    if (code != REQ_CMD) {
        std::optional<std::vector<std::uint8_t>> answer;
        {
            std::lock_guard lock(lock_);
            if (const auto it = answers_.find(code); it != answers_.end()) {
                answer = it->second;
            }
        }
        if (answer) {
            return BuildAnswer(code, *answer, false, maxFrameBytes);
        }
    }
    switch (code) {
        case REQ_EQINFO: {
            const std::string name = model();
            std::vector<std::uint8_t> data(name.begin(), name.end());
            data.push_back(0);
            return BuildAnswer(code, data, false, maxFrameBytes);
        }
        case REQ_SCREEN: {
            std::uint64_t generation = 0;
            bool fixed = false;
            {
                std::lock_guard lock(lock_);
                if (override_ && !overrideFrames_.empty() && maxFrameBytes == 0) {
                    return overrideFrames_;
                }
                generation = generation_;
                fixed =
                    override_.has_value() && faults_.badChecksumEvery == 0 && maxFrameBytes == 0;
            }
            Frames frames = BuildAnswer(code, ScreenBytes(), true, maxFrameBytes);
            std::lock_guard lock(lock_);
            if (fixed && generation == generation_) {
                overrideFrames_ = frames;
            }
            return frames;
        }
        case REQ_CMD: {
            std::string text = CommandText(request);
            std::lock_guard lock(lock_);
            screen_.Apply(text);
            if (commands_.size() == kKeptRecords) {
                commands_.pop_front();
            }
            commands_.push_back({std::move(text), SimClock::now()});
            ++commandCount_;
            commandArrived_.notify_all();
            return {};
        }
        default:
            return {};
    }
}

Frames SimInstrument::BuildAnswer(std::uint8_t code, const std::vector<std::uint8_t>& data,
                                  bool screen, std::size_t maxFrameBytes) {
    const SimFaults faults = this->faults();
    std::vector<std::uint8_t> body = data;
    if (screen && faults.answerOverLimit) {
        body.resize(kOverLimitFrames * kMaxPayload, 0x55);
    }
    // Chunk boundaries: the largest payload, or as much as fits the frame limit escaped,
    // with room for a fully escaped header and checksum and the two markers.
    std::vector<std::pair<std::size_t, std::size_t>> chunks;
    const std::size_t budget =
        maxFrameBytes > 2 * (kFrameOverhead + 1) ? maxFrameBytes - 2 * (kFrameOverhead + 1) : 0;
    for (std::size_t offset = 0; offset < body.size() || chunks.empty();) {
        std::size_t size = std::min(kMaxPayload, body.size() - offset);
        if (budget != 0) {
            std::size_t escaped = 0;
            size = 0;
            while (offset + size < body.size() && size < kMaxPayload) {
                const std::size_t cost = NeedsEscape(body[offset + size]) ? 2 : 1;
                if (escaped + cost > budget) {
                    break;
                }
                escaped += cost;
                ++size;
            }
        }
        chunks.emplace_back(offset, size);
        offset += size;
        if (size == 0) {
            break;
        }
    }
    const std::size_t n = chunks.size();
    Frames frames;
    frames.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (faults.skipIndex && n >= 3 && i == 2) {
            continue;
        }
        std::size_t index = i;
        if (faults.firstIndexOne && i == 0) {
            index = 1;
        }
        const FrameHeader header{kCmdRequest, code,
                                 static_cast<std::uint8_t>(std::min<std::size_t>(n, 255)),
                                 static_cast<std::uint8_t>(index)};
        const auto [offset, size] = chunks[i];
        std::vector<std::uint8_t> frame = Encode(header, std::span(body.data() + offset, size));
        if (screen && faults.oversizedFrame && i == 0) {
            // Stretch the payload past the largest legal one; markers and checksum stay.
            frame.insert(frame.end() - 2, kOversizedPayload - size, 0x11);
        }
        frames.push_back(std::move(frame));
    }
    if (faults.badChecksumEvery > 0) {
        std::lock_guard lock(lock_);
        for (auto& frame : frames) {
            if (++framesBuilt_ % static_cast<std::uint64_t>(faults.badChecksumEvery) == 0) {
                CorruptChecksum(frame);
            }
        }
    }
    return frames;
}

void SimInstrument::CorruptChecksum(std::vector<std::uint8_t>& frame) const {
    // Change one unescaped byte after the header so the sum no longer matches; the frame
    // keeps its shape on the wire.
    for (std::size_t i = 5; i + 2 < frame.size(); ++i) {
        const std::uint8_t b = frame[i];
        const std::uint8_t flipped = b ^ 0x01;
        if (!NeedsEscape(b) && !NeedsEscape(flipped) && frame[i - 1] != kFrameEscape) {
            frame[i] = flipped;
            return;
        }
    }
    // No payload byte to change: the checksum itself.
    std::uint8_t& sum = frame[frame.size() - 2];
    if (frame[frame.size() - 3] != kFrameEscape) {
        sum = NeedsEscape(sum ^ 0x01) ? static_cast<std::uint8_t>(sum ^ 0x02)
                                      : static_cast<std::uint8_t>(sum ^ 0x01);
    }
}

}  // namespace qv::sim
