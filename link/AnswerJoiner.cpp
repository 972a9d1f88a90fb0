#include "link/AnswerJoiner.h"

#include <cstring>

namespace qv {

AnswerJoiner::Step AnswerJoiner::Add(const FrameView& frame) {
    const int k = frame.header.index + 1;
    const int n = frame.header.count;
    if (k == 1) {
        // A first frame starts the answer afresh: what an earlier start joined is dropped,
        // never put in front of the new answer.
        lastAccepted_ = 1;
        length_ = 0;
    } else if (lastAccepted_ != k - 1) {
        return {Outcome::ErrorSequence, 0};
    } else {
        lastAccepted_ = k;
    }
    if (frame.payload.size() > data_.size() - length_) {
        return {Outcome::ErrorOverflow, 0};
    }
    if (!frame.payload.empty()) {
        std::memcpy(data_.data() + length_, frame.payload.data(), frame.payload.size());
        length_ += frame.payload.size();
    }
    if (k >= n) {
        return {Outcome::Complete, 100};
    }
    return {Outcome::Progress, k * 100 / n};
}

}  // namespace qv
