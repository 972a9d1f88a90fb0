// Feeds arbitrary bytes, cut into arbitrary reads, through the frame assembler and the
// answer joiner the way a poll loop does. Nothing may write past a buffer, and every
// decoded frame must re-encode to a frame that decodes to the same thing.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "link/AnswerJoiner.h"
#include "link/FrameAssembler.h"
#include "link/FrameCodec.h"
#include "tests/fuzz/Fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using qv::fuzz::Check;
    if (size < 1) {
        return 0;
    }
    // The first byte picks the read size, as a socket would cut the stream.
    const std::size_t chunk = 1 + data[0] * 37u;
    std::span<const std::uint8_t> stream(data + 1, size - 1);

    static std::vector<std::uint8_t> joined(qv::kMaxAnswerBytes);
    qv::FrameAssembler assembler;
    qv::AnswerJoiner joiner(joined);
    std::vector<std::uint8_t> wire(qv::kMaxEncodedFrame);

    while (!stream.empty()) {
        std::span<const std::uint8_t> read = stream.first(std::min(chunk, stream.size()));
        stream = stream.subspan(read.size());
        while (!read.empty()) {
            const auto r = assembler.Feed(read);
            Check(r.consumed > 0 && r.consumed <= read.size());
            read = read.subspan(r.consumed);
            if (r.status == qv::FrameAssembler::Status::Frame) {
                const qv::FrameView f = assembler.frame();
                Check(f.payload.size() <= qv::kMaxPayload);
                const std::size_t n = qv::EncodeFrame(f.header, f.payload, wire);
                Check(n > 0);
                qv::FrameAssembler again;
                const std::vector<std::uint8_t> payload(f.payload.begin(), f.payload.end());
                const auto back = again.Feed(std::span(wire).first(n));
                Check(back.status == qv::FrameAssembler::Status::Frame && back.consumed == n &&
                      std::equal(payload.begin(), payload.end(), again.frame().payload.begin(),
                                 again.frame().payload.end()));
                const auto step = joiner.Add(f);
                Check(joiner.length() <= qv::kMaxAnswerBytes);
                if (step.outcome != qv::AnswerJoiner::Outcome::Progress) {
                    joiner.Reset();
                }
            } else if (r.status != qv::FrameAssembler::Status::NeedMore) {
                joiner.Reset();
            }
        }
    }
    return 0;
}
