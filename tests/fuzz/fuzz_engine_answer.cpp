// The engine's Poll/ReceiveFrame state machine over a fake TCP peer driven by the input, on a
// virtual clock. Every answer must end within the answer deadline and a bounded number of
// calls, end in 100 or -1 with one of the engine's texts, and a complete answer must be
// exactly what the frames since the last first frame carry (a reference join of the bytes the
// peer sent).
//
// Input: one option byte (bit 0: the link's Exchange instead of the Poll loop), then operations,
// one byte each: low 2 bits the kind, the rest a pause of 10 ms steps before it.
//   0 chunk: a length byte n, then n + 1 bytes delivered in one read
//   1 silence for the read's window      2 the peer hangs up (one failed read)
//   3 trickle: a length byte n, then n + 1 bytes delivered one per read
// Past the end of the input the peer is silent.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "link/CDevComm.h"
#include "link/FrameAssembler.h"
#include "tests/fuzz/FuzzClock.h"

namespace {

using namespace std::chrono_literals;
using qv::fuzz::AnswerEndedWell;
using qv::fuzz::VirtualClock;

class FakePeer final : public qv::Transport {
  public:
    FakePeer(VirtualClock& clock, const std::uint8_t* data, std::size_t size)
        : clock_(clock), data_(data), size_(size) {}
    int Method() const override { return qv::kMethodTcp; }
    bool IsOpen() const override { return true; }
    int WriteFrame(std::span<const std::uint8_t> frame) override {
        return static_cast<int>(frame.size());
    }
    int Read(std::span<std::uint8_t> buffer, std::chrono::milliseconds maxWait) override {
        ++reads;
        const auto wait = [&](std::chrono::milliseconds t) {
            clock_.Advance(std::min(t, maxWait));
        };
        if (trickleLeft_ > 0) {
            --trickleLeft_;
            wait(300ms);
            return Deliver(buffer, 1);
        }
        if (at_ >= size_) {
            wait(460ms);
            return 0;
        }
        const std::uint8_t op = data_[at_++];
        const auto pause = std::chrono::milliseconds((op >> 2) * 10);
        switch (op & 3) {
            case 0: {
                const std::size_t n = at_ < size_ ? data_[at_++] + 1u : 1u;
                wait(pause);
                return Deliver(buffer, n);
            }
            case 1:
                wait(std::max(pause, 460ms));
                return 0;
            case 2:
                wait(pause);
                return -1;
            default:
                trickleLeft_ = at_ < size_ ? data_[at_++] + 1u : 1u;
                return Read(buffer, maxWait);
        }
    }
    void Close() override {}

    std::vector<std::uint8_t> sent;  // every byte the peer delivered, in order
    int reads = 0;

  private:
    int Deliver(std::span<std::uint8_t> buffer, std::size_t n) {
        n = std::min({n, size_ - at_, buffer.size()});
        if (n == 0) {
            return 0;
        }
        std::memcpy(buffer.data(), data_ + at_, n);
        sent.insert(sent.end(), data_ + at_, data_ + at_ + n);
        at_ += n;
        return static_cast<int>(n);
    }

    VirtualClock& clock_;
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
    std::size_t trickleLeft_ = 0;
};

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
    static qv::CDevComm* engine = [] {
        auto* e = new qv::CDevComm;
        e->Init();
        return e;
    }();
    static qv::Answer* exchanged = new qv::Answer;
    static const qv::FileEntry screen =
        *qv::BuildFileEntry(qv::kScreenFileName, qv::kScreenFileSize);
    VirtualClock clock;
    engine->SetClock(&clock);
    auto peer = std::make_shared<FakePeer>(clock, data + 1, size - 1);
    engine->Attach(peer);
    engine->SetErrorText("");
    const auto start = clock.Now();
    int result = 0;
    int calls = 0;
    if (byReceiveAnswer) {
        result = engine->link().Exchange(qv::RequestFrame(qv::REQ_SCREEN, screen), *exchanged);
        calls = 1;
    } else {
        if (engine->RequestScreen() != 1) {
            __builtin_trap();
        }
        do {
            result = engine->Poll();
            ++calls;
        } while (result >= 0 && result < 100);
    }
    const std::uint8_t* joined = byReceiveAnswer ? exchanged->data() : engine->GetData();
    const auto length = static_cast<int>(
        byReceiveAnswer ? exchanged->length() : static_cast<std::size_t>(engine->GetDataLength()));
    // Every Poll that returns early made a read.
    if (!AnswerEndedWell(result, engine->ErrorText(), joined, length, clock.Now() - start) ||
        calls > peer->reads + 1) {
        __builtin_trap();
    }
    if (result == 100) {
        std::vector<std::uint8_t> expected;
        if (!ReferenceAnswer(peer->sent, expected) ||
            expected.size() != static_cast<std::size_t>(length) ||
            (length > 0 && std::memcmp(expected.data(), joined, expected.size()) != 0)) {
            __builtin_trap();
        }
    }
    engine->Attach(nullptr);
    engine->SetClock(nullptr);
    return 0;
}
