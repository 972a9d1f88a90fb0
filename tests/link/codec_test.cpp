// The link's pure parts: frame codec, assembler and joiner by byte-exact vectors and round
// trips, and the model table; the engine's frame deadline and answer size at their edges, on
// a virtual clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "link/AnswerJoiner.h"
#include "link/CDevComm.h"
#include "link/CommandSet.h"
#include "link/FrameAssembler.h"
#include "link/FrameCodec.h"
#include "link/ModelTable.h"
#include "tests/fuzz/FuzzClock.h"

namespace qv {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Status = FrameAssembler::Status;

Bytes Encode(FrameHeader h, const Bytes& payload) {
    Bytes out(kMaxEncodedFrame);
    out.resize(EncodeFrame(h, payload, out));
    return out;
}

// The payload of every frame of the input up to the first error, and the last status.
std::pair<std::vector<Bytes>, Status> FeedAll(FrameAssembler& a, std::span<const std::uint8_t> in) {
    std::pair<std::vector<Bytes>, Status> c{{}, Status::NeedMore};
    while (!in.empty() && (c.second == Status::NeedMore || c.second == Status::Frame)) {
        const auto r = a.Feed(in);
        in = in.subspan(r.consumed);
        if ((c.second = r.status) == Status::Frame) {
            c.first.emplace_back(a.frame().payload.begin(), a.frame().payload.end());
        }
    }
    return c;
}

TEST(Frames, ByteExactVectorsLimitsRoundTripsAtEveryCutRejectsAndJoins) {
    const struct {
        FrameHeader h;
        Bytes payload, wire;
    } cases[] = {
        // 7F | 41 cmd | 50 code | 01 count | 00 index | 92 sum (41+50+01+00) | 7E
        {{0x41, 80, 1, 0}, {}, {0x7F, 0x41, 0x50, 0x01, 0x00, 0x92, 0x7E}},
        // Payload 7E goes out as 7D 5E; sum 0x110 -> 10.
        {{0x41, 0x50, 1, 0}, {0x7E}, {0x7F, 0x41, 0x50, 0x01, 0x00, 0x7D, 0x5E, 0x10, 0x7E}},
        // A sum of 7D is escaped too: 41 + 3C.
        {{0x41, 0x3C, 0, 0}, {}, {0x7F, 0x41, 0x3C, 0, 0, 0x7D, 0x5D, 0x7E}},
        // Specials in header and payload; sum 0x1F8 -> F8.
        {{0x7F, 0x7D, 0, 0},
         {0x7D, 0x7F},
         {0x7F, 0x7D, 0x5F, 0x7D, 0x5D, 0, 0, 0x7D, 0x5D, 0x7D, 0x5F, 0xF8, 0x7E}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Encode(c.h, c.payload), c.wire);
        FrameAssembler a;
        EXPECT_EQ(FeedAll(a, c.wire).first, std::vector<Bytes>{c.payload});
        EXPECT_EQ(a.frame().header.code, c.h.code);
    }
    const auto entry = BuildFileEntry(kScreenFileName, kScreenFileSize);
    ASSERT_TRUE(entry && entry->size() == 84u);
    // Name, then the size 400,000 little-endian at byte 80: 80 1A 06 00.
    EXPECT_EQ(Bytes(entry->begin() + 80, entry->begin() + 84), (Bytes{0x80, 0x1A, 0x06, 0x00}));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(entry->data())), "currentdisp.jpg");
    EXPECT_FALSE(BuildFileEntry(std::string(80, 'n'), 1));
    EXPECT_TRUE(BuildFileEntry(std::string(79, 'n'), 1));
    const auto text = BuildTextPayload(std::string(126, 'K') + "\n");
    ASSERT_TRUE(text);
    EXPECT_EQ(Bytes(text->begin() + 125, text->end()), (Bytes{'K', '\n', 0}));
    EXPECT_FALSE(BuildTextPayload(std::string(128, 'K')));
    // The worst payload under the worst header still fits the buffers; a bigger one is refused.
    Bytes out(kMaxEncodedFrame);
    EXPECT_EQ(EncodeFrame({}, Bytes(kMaxPayload + 1), out), 0u);
    const Bytes worst(kMaxPayload, 0x7E);
    const FrameHeader h{0x7F, 0x7E, 0x7D, 0x7D};
    const std::size_t need = EncodedFrameSize(h, worst);
    EXPECT_LE(need, kMaxEncodedFrame);
    EXPECT_EQ(EncodeFrame(h, worst, std::span(out).first(need)), need);
    EXPECT_EQ(EncodeFrame(h, worst, std::span(out).first(need - 1)), 0u);
    // All markers: a cut can fall inside any escape.
    std::mt19937 rng(1);
    Bytes payload(300);
    std::generate(payload.begin(), payload.end(),
                  [&] { return static_cast<std::uint8_t>(0x7D + rng() % 3); });
    const Bytes wire = Encode({0x41, 96, 2, 1}, payload);
    for (std::size_t cut = 0; cut < wire.size(); ++cut) {
        FrameAssembler a;
        const auto first = a.Feed(std::span(wire).first(cut));
        ASSERT_EQ(std::pair(first.status, first.consumed), std::pair(Status::NeedMore, cut));
        const auto second = a.Feed(std::span(wire).subspan(cut));
        ASSERT_EQ(std::pair(second.status, second.consumed),
                  std::pair(Status::Frame, wire.size() - cut));
        ASSERT_EQ(Bytes(a.frame().payload.begin(), a.frame().payload.end()), payload);
        EXPECT_EQ(a.frame().header.index, 1);
    }
    // Two largest frames in one input; a second start marker starts the frame again.
    Bytes two = Encode({0x41, 96, 2, 0}, Bytes(kMaxPayload, 0x7F));
    const Bytes second = Encode({0x41, 96, 2, 1}, Bytes(kMaxPayload, 0x11));
    two.insert(two.end(), second.begin(), second.end());
    two.insert(two.end(), {0x7F, 0x41, 0x33});
    const Bytes third = Encode({0x41, 80, 1, 0}, {'Q', 'V'});
    two.insert(two.end(), third.begin(), third.end());
    FrameAssembler a;
    EXPECT_EQ(FeedAll(a, two).first,
              (std::vector{Bytes(kMaxPayload, 0x7F), Bytes(kMaxPayload, 0x11), Bytes{'Q', 'V'}}));
    Bytes oversized{0x7F, 0x41, 96, 1, 0};  // 4,097 payload bytes
    oversized.insert(oversized.end(), kMaxPayload + 1, 0x11);
    oversized.insert(oversized.end(), {0, 0x7E});
    Bytes overlong{0x7F};
    overlong.insert(overlong.end(), kMaxEncodedFrame, 0x7D);
    overlong.push_back(0x7E);
    const std::pair<Bytes, Status> rejected[] = {
        {{0x00, 0x7F, 0x41, 0x50, 0x01, 0x00, 0x92, 0x7E}, Status::ErrorPacket},  // byte before
        {{0x7F, 0x41, 0x50, 0x01, 0x7E}, Status::ErrorPacket},                    // under seven
        {{0x7F, 0x7E}, Status::ErrorPacket},
        {{0x7F, 0x41, 0x50, 0x01, 0x00, 0x92, 0x7D, 0x7E}, Status::ErrorPacket},  // escaped end
        {{0x7F, 0x41, 0x50, 0x01, 0x00, 0x93, 0x7E}, Status::ErrorChecksum},
        {oversized, Status::ErrorPacket},
        {overlong, Status::ErrorPacket},
    };
    for (const auto& [bad, status] : rejected) {
        SCOPED_TRACE(bad.size());
        FrameAssembler fresh;
        EXPECT_EQ(FeedAll(fresh, bad), std::pair(std::vector<Bytes>{}, status));
        EXPECT_FALSE(fresh.InFrame());
    }
    Bytes data(10);
    AnswerJoiner j(data);
    const Bytes p{1, 2, 3, 4};
    const auto add = [&](std::uint8_t count, std::uint8_t index) {
        return j.Add(FrameView{FrameHeader{0x41, 96, count, index}, p});
    };
    EXPECT_EQ(add(3, 0).progress, 33);
    EXPECT_EQ(add(3, 1).progress, 66);
    EXPECT_EQ(add(4, 3).outcome, AnswerJoiner::Outcome::ErrorSequence);
    // 8 of 10 bytes used: a third payload of 4 would overflow.
    EXPECT_EQ(add(3, 2).outcome, AnswerJoiner::Outcome::ErrorOverflow);
    EXPECT_EQ(j.length(), 8u);
    for (const std::uint8_t count : {0, 1}) {
        j.Reset();
        EXPECT_EQ(add(count, 0).outcome, AnswerJoiner::Outcome::Complete);
    }
    j.Reset();
    EXPECT_EQ(add(2, 1).outcome, AnswerJoiner::Outcome::ErrorSequence);
}

using namespace std::chrono_literals;
using ms = std::chrono::milliseconds;

// A peer on the virtual clock: each byte arrives at its time after the request; a read waits
// at most its window (a socket's), and only the clock moves.
class TimedPeer final : public Transport {
  public:
    TimedPeer(fuzz::VirtualClock& clock, Bytes bytes, std::vector<ms> at)
        : clock_(clock), start_(clock.Now()), bytes_(std::move(bytes)), at_(std::move(at)) {}
    int Method() const override { return kMethodTcp; }
    bool IsOpen() const override { return true; }
    int WriteFrame(std::span<const std::uint8_t> frame) override {
        start_ = clock_.Now();
        return static_cast<int>(frame.size());
    }
    int Read(std::span<std::uint8_t> buffer, ms maxWait) override {
        const auto until = clock_.Now() + std::min(maxWait, ms(460));
        if (next_ == bytes_.size() || start_ + at_[next_] > until) {
            clock_.Advance(std::chrono::duration_cast<ms>(until - clock_.Now()));
            return 0;
        }
        clock_.Advance(
            std::max(ms(0), std::chrono::duration_cast<ms>(start_ + at_[next_] - clock_.Now())));
        // Everything due by now, as the socket would hold it.
        std::size_t n = 0;
        while (next_ + n < bytes_.size() && n < buffer.size() &&
               start_ + at_[next_ + n] <= clock_.Now()) {
            ++n;
        }
        std::memcpy(buffer.data(), bytes_.data() + next_, n);
        next_ += n;
        return static_cast<int>(n);
    }
    void Close() override {}

  private:
    fuzz::VirtualClock& clock_;
    LinkClock::TimePoint start_;
    Bytes bytes_;
    std::vector<ms> at_;
    std::size_t next_ = 0;
};

// The frames of an answer carrying payload, kMaxPayload (or frameSize) bytes a frame.
Bytes Answer(const Bytes& payload, std::size_t frameSize = kMaxPayload) {
    const std::size_t count =
        std::max<std::size_t>(1, (payload.size() + frameSize - 1) / frameSize);
    Bytes wire;
    for (std::size_t i = 0; i < count; ++i) {
        const auto from = payload.begin() + static_cast<std::ptrdiff_t>(i * frameSize);
        const Bytes part(from, from + static_cast<std::ptrdiff_t>(
                                          std::min(frameSize, payload.size() - i * frameSize)));
        const Bytes frame = Encode(
            {0x41, REQ_SCREEN, static_cast<std::uint8_t>(count), static_cast<std::uint8_t>(i)},
            part);
        wire.insert(wire.end(), frame.begin(), frame.end());
    }
    return wire;
}

// Each limit of one exchange with the engine's own values: one case just inside, one just out.
TEST(EngineLimits, FrameDeadlineLargestFrameAndLargestAnswer) {
    const auto payload = [](std::size_t n) {
        Bytes b(n);
        std::mt19937 rng(static_cast<unsigned>(n));
        std::generate(b.begin(), b.end(), [&] { return static_cast<std::uint8_t>(rng()); });
        return b;
    };
    const Bytes small = payload(40);
    // An oversized frame: the encoder refuses one, so its bytes are laid out by hand.
    Bytes oversized{0x7F, 0x41, REQ_SCREEN, 1, 0};
    oversized.insert(oversized.end(), kMaxPayload + 1, 0x11);
    oversized.insert(oversized.end(), {0xB3, 0x7E});  // the sum is right
    const ms frameDeadline = CDevComm::kFrameDeadline;
    struct Case {
        const char* name;
        Bytes wire;
        ms last;  // the last byte's time; the bytes before it come evenly from 0
        int result;
        const char* text;
        std::size_t length = 0;
    };
    // clang-format off
    const Case cases[] = {
        // Bytes flowing all along (a byte every 50 ms or so): only the frame's deadline ends it.
        {"frame done just in time", Answer(small), frameDeadline - 1ms, 100, "", small.size()},
        {"frame done just too late", Answer(small), frameDeadline + 1ms, -1, "STR_ERROR_TIMEOUT"},
        {"largest frame", Answer(payload(kMaxPayload)), 0ms, 100, "", kMaxPayload},
        {"a byte over the largest frame", oversized, 0ms, -1, "STR_ERROR_PACKET"},
        {"largest answer", Answer(payload(kMaxAnswerBytes)), 0ms, 100, "", kMaxAnswerBytes},
        {"a byte over the largest answer", Answer(payload(kMaxAnswerBytes + 1)), 0ms, -1, "STR_ERROR_PACKET"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fuzz::VirtualClock clock;
        std::vector<ms> at(c.wire.size());
        for (std::size_t i = 0; i < at.size(); ++i) {
            at[i] = at.size() > 1 ? c.last * static_cast<int>(i) / static_cast<int>(at.size() - 1)
                                  : c.last;
        }
        CDevComm dev;
        dev.Init();
        dev.SetClock(&clock);
        dev.Attach(std::make_shared<TimedPeer>(clock, c.wire, at));
        ASSERT_EQ(dev.RequestScreen(), 1);
        int p = 0;
        while ((p = dev.Poll()) >= 0 && p < 100) {
        }
        EXPECT_EQ(p, c.result) << dev.ErrorText();
        if (c.result != 100) {
            EXPECT_EQ(dev.ErrorText(), c.text);
        } else {
            ASSERT_EQ(static_cast<std::size_t>(dev.GetDataLength()), c.length);
        }
        EXPECT_EQ(dev.GetData()[dev.GetDataLength()], 0) << "nothing written past the answer";
        dev.Attach(nullptr);
    }
}

TEST(ModelKind, EveryCodeOfTheTableAndNearMisses) {
    // clang-format off
    const std::pair<int, std::vector<const char*>> table[] = {
        {2, {"TQ5201B", "TQ5202B", "TQ5203A", "TQ5204B", "QV5201B", "QV5202B", "QV5204B", "HN140"}},
        {4, {"TQ381A", "QV381A", "TQ382A", "QV382A", "TQ383A", "QV383A", "TQ384A", "QV384A"}},
        {6, {"QV391A", "QV392A", "QV394A", "QV391B", "QV392B", "QV394B", "QV381B", "QV382B", "QV383B", "QV384B"}},
        {3, {"TQ366A", "QV366A"}},
        {5, {"TQ363C", "QV363C", "TQ364C", "QV364C", "HN6600C", "R517C", "TQ365C", "QV365C", "TQ366C", "QV366C"}},
        {0, {"", "qv392b", "QV392B ", " QV392B", "QV392", "QV392BB", "TQ5203B", "HN7700", "QV5203A"}},
    };
    // clang-format on
    for (const auto& [kind, codes] : table) {
        for (const char* code : codes) {
            EXPECT_EQ(ModelKindOf(code), kind) << '"' << code << '"';
        }
    }
    EXPECT_EQ(ModelKindOf(std::string_view("QV392B\0X", 8)), 0);
}

}  // namespace
}  // namespace qv
