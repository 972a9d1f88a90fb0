// Joins the frames of one answer into a data buffer and checks their numbering: a frame
// with index 0 starts the answer (again, from an empty buffer, if one was under way), every
// other must follow the last accepted one.
// Pure logic, shared by the TCP poll and the USB receive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "link/FrameAssembler.h"

namespace qv {

class AnswerJoiner {
  public:
    enum class Outcome {
        Progress,       // more frames to come; see progress
        Complete,       // the last frame of the answer was added
        ErrorSequence,  // a frame number out of order
        ErrorOverflow,  // the joined payloads would not fit the buffer
    };
    struct Step {
        Outcome outcome;
        int progress;  // percent, 0..99 while in progress, 100 when complete
    };

    // data receives the joined payloads; it must outlive the joiner.
    explicit AnswerJoiner(std::span<std::uint8_t> data) : data_(data) {}

    Step Add(const FrameView& frame);

    // Empties the data and forgets the frame numbering.
    void Reset() {
        length_ = 0;
        lastAccepted_ = 0;
    }

    // Forgets the frame numbering only: the next frame must start an answer.
    void RestartNumbering() { lastAccepted_ = 0; }

    std::size_t length() const { return length_; }
    int lastAccepted() const { return lastAccepted_; }

  private:
    std::span<std::uint8_t> data_;
    std::size_t length_ = 0;
    int lastAccepted_ = 0;  // index + 1 of the last frame taken
};

}  // namespace qv
