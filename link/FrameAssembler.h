// Incremental frame decoder: takes bytes as they come and yields one decoded frame at a
// time, or an error. Unescapes while it assembles, so a frame is touched once.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "link/FrameCodec.h"

namespace qv {

struct FrameView {
    FrameHeader header;
    std::span<const std::uint8_t> payload;  // valid until the next Feed or Reset
};

class FrameAssembler {
  public:
    enum class Status {
        NeedMore,       // every byte consumed, no frame ended
        Frame,          // a whole frame ended; see frame()
        ErrorPacket,    // a stray byte, a frame too short or too long, a bad escape
        ErrorChecksum,  // a whole frame whose checksum does not match
    };
    struct Result {
        Status status;
        std::size_t consumed;  // bytes of the input used, up to and including the deciding one
    };

    // Scans input until one frame ends or an error is found. After Frame or an error the
    // assembler is outside a frame again; call Feed with the rest of the input to go on.
    Result Feed(std::span<const std::uint8_t> input);

    // Forgets any partial frame.
    void Reset();

    bool InFrame() const { return inFrame_; }
    const FrameView& frame() const { return frame_; }

  private:
    Result Finish(std::size_t consumed);

    // Unescaped cmd, code, count, index, payload, checksum.
    std::array<std::uint8_t, kFrameOverhead + kMaxPayload> buf_{};
    std::size_t length_ = 0;
    bool inFrame_ = false;
    bool escaped_ = false;
    FrameView frame_{};
};

}  // namespace qv
