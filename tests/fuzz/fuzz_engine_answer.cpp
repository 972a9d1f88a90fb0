// The engine's Poll/ReceiveFrame state machine over a fake TCP peer driven by the input, on a
// virtual clock. Every answer must end within the answer deadline and a bounded number of
// calls, end in 100 or -1 with one of the engine's texts, and a complete answer must be
// exactly what the frames since the last first frame carry (a reference join of the bytes the
// peer sent).
//
// Input: one option byte (bit 0: the link's Exchange instead of the Poll loop), then operations,
// one byte each: low 2 bits the kind, the rest a pause of 10 ms steps before it, on the
// request's time line.
//   0 chunk: a length byte n, then n + 1 bytes delivered in one read
//   1 silence for 460 ms                 2 the peer hangs up (one failed read)
//   3 trickle: a length byte n, then n + 1 bytes one every 300 ms
// Past the end of the input the peer is silent.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "link/FrameAssembler.h"
#include "tests/fuzz/Fuzz.h"

namespace {

using namespace std::chrono_literals;
using namespace qv::fuzz;

std::vector<TimedPeer::Event> Script(Input input) {
    std::vector<TimedPeer::Event> events;
    auto at = 0ms;
    while (!input.empty()) {
        const std::uint8_t op = input.Byte();
        at += std::chrono::milliseconds((op >> 2) * 10);
        switch (op & 3) {
            case 0: {
                std::vector<std::uint8_t> bytes(input.Byte() + 1u);
                bytes.resize(input.Take(bytes.size(), bytes.data()));
                events.push_back({at, std::move(bytes)});
                break;
            }
            case 1:
                at += 460ms;
                break;
            case 2:
                events.push_back({at, {}, true});
                break;
            default:
                for (unsigned n = input.Byte() + 1u; n > 0 && !input.empty(); --n) {
                    at += 300ms;
                    events.push_back({at, {input.Byte()}});
                }
        }
    }
    return events;
}

// The answer the frames of stream make, joined independently of the engine: a first frame
// starts it afresh, every other follows the one before. Empty when it never completes.
bool ReferenceAnswer(const std::vector<std::uint8_t>& stream, std::vector<std::uint8_t>& out) {
    qv::FrameAssembler assembler;
    std::span<const std::uint8_t> rest(stream);
    int last = 0;
    out.clear();
    while (!rest.empty()) {
        const auto r = assembler.Feed(rest);
        rest = rest.subspan(r.consumed);
        if (r.status != qv::FrameAssembler::Status::Frame) {
            return false;
        }
        const qv::FrameView& f = assembler.frame();
        const int k = f.header.index + 1;
        if (k == 1) {
            out.clear();
        } else if (last != k - 1) {
            return false;
        }
        last = k;
        if (out.size() + f.payload.size() > qv::kMaxAnswerBytes) {
            return false;
        }
        out.insert(out.end(), f.payload.begin(), f.payload.end());
        if (k >= f.header.count) {
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const bool byReceiveAnswer = (data[0] & 1) != 0;
    static qv::Answer* exchanged = new qv::Answer;
    static const qv::FileEntry screen =
        *qv::BuildFileEntry(qv::kScreenFileName, qv::kScreenFileSize);
    qv::CDevComm& engine = Engine();
    VirtualClock clock;
    engine.SetClock(&clock);
    auto peer = std::make_shared<TimedPeer>(clock, Script(Input(data + 1, size - 1)));
    engine.Attach(peer);
    engine.SetErrorText("");
    const auto start = clock.Now();
    int result = 0;
    int calls = 0;
    if (byReceiveAnswer) {
        result = engine.link().Exchange(qv::RequestFrame(qv::REQ_SCREEN, screen), *exchanged);
        calls = 1;
    } else {
        Check(engine.RequestScreen() == 1);
        do {
            result = engine.Poll();
            ++calls;
        } while (result >= 0 && result < 100);
    }
    const std::uint8_t* joined = byReceiveAnswer ? exchanged->data() : engine.GetData();
    const auto length = static_cast<int>(
        byReceiveAnswer ? exchanged->length() : static_cast<std::size_t>(engine.GetDataLength()));
    // Every Poll that returns early made a read.
    Check(AnswerEndedWell(result, engine.ErrorText(), joined, length, clock.Now() - start) &&
          calls <= peer->reads + 1);
    if (result == 100) {
        std::vector<std::uint8_t> expected;
        Check(ReferenceAnswer(peer->sent, expected) &&
              expected.size() == static_cast<std::size_t>(length) &&
              (length == 0 || std::memcmp(expected.data(), joined, expected.size()) == 0));
    }
    engine.Attach(nullptr);
    engine.SetClock(nullptr);
    return 0;
}
