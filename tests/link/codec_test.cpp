// Frame codec, assembler and joiner: byte-exact vectors and round trips.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "link/AnswerJoiner.h"
#include "link/CommandSet.h"
#include "link/FrameAssembler.h"
#include "link/FrameCodec.h"

namespace qv {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Encode(FrameHeader h, const Bytes& payload) {
    Bytes out(kMaxEncodedFrame);
    const std::size_t n = EncodeFrame(h, payload, out);
    out.resize(n);
    return out;
}

// Feeds input in one piece and collects every frame, or the first error.
struct Collected {
    std::vector<Bytes> payloads;
    std::vector<FrameHeader> headers;
    FrameAssembler::Status last = FrameAssembler::Status::NeedMore;
};

Collected FeedAll(FrameAssembler& a, std::span<const std::uint8_t> in) {
    Collected c;
    while (!in.empty()) {
        const auto r = a.Feed(in);
        in = in.subspan(r.consumed);
        c.last = r.status;
        if (r.status == FrameAssembler::Status::Frame) {
            c.headers.push_back(a.frame().header);
            c.payloads.emplace_back(a.frame().payload.begin(), a.frame().payload.end());
        } else if (r.status != FrameAssembler::Status::NeedMore) {
            break;
        }
    }
    return c;
}

TEST(FrameCodec, EquipmentRequestIsSevenExactBytes) {
    // 7F | 41 cmd | 50 code | 01 count | 00 index | 92 sum (41+50+01+00) | 7E
    EXPECT_EQ(Encode({0x41, 80, 1, 0}, {}), (Bytes{0x7F, 0x41, 0x50, 0x01, 0x00, 0x92, 0x7E}));
}

TEST(FrameCodec, EscapesPayloadAndChecksumButNotMarkers) {
    // Payload 7E goes out as 7D 5E. Checksum 41+50+01+00+7E = 0x110 -> 0x10.
    EXPECT_EQ(Encode({0x41, 0x50, 1, 0}, {0x7E}),
              (Bytes{0x7F, 0x41, 0x50, 0x01, 0x00, 0x7D, 0x5E, 0x10, 0x7E}));
    // Checksum that comes to 7D goes out as 7D 5D: 41 + 3C = 7D.
    EXPECT_EQ(Encode({0x41, 0x3C, 0, 0}, {}), (Bytes{0x7F, 0x41, 0x3C, 0, 0, 0x7D, 0x5D, 0x7E}));
    // Specials in the payload and the header; sum 7F+7D+7D+7F = 0x1F8 -> F8.
    EXPECT_EQ(Encode({0x7F, 0x7D, 0, 0}, {0x7D, 0x7F}),
              (Bytes{0x7F, 0x7D, 0x5F, 0x7D, 0x5D, 0, 0, 0x7D, 0x5D, 0x7D, 0x5F, 0xF8, 0x7E}));
}

TEST(FrameCodec, ScreenRequestChecksumCoversWholeFileEntry) {
    const auto entry = BuildFileEntry(kScreenFileName, kScreenFileSize);
    ASSERT_TRUE(entry);
    EXPECT_EQ((*entry)[80], 0x80);
    EXPECT_EQ((*entry)[81], 0x1A);
    EXPECT_EQ((*entry)[82], 0x06);
    EXPECT_EQ((*entry)[83], 0x00);
    unsigned sum = 0x41 + 96 + 1 + 0;
    for (std::uint8_t b : *entry) {
        sum += b;
    }
    const Bytes frame = Encode({0x41, 96, 1, 0}, Bytes(entry->begin(), entry->end()));
    // Name bytes and the size bytes 80 1A 06 00 need no escape; 84 + 7 bytes on the wire.
    ASSERT_EQ(frame.size(), 84u + 7u);
    EXPECT_EQ(frame[frame.size() - 2], static_cast<std::uint8_t>(sum));
    EXPECT_EQ(std::string(frame.begin() + 5, frame.begin() + 5 + 15), "currentdisp.jpg");
}

TEST(FrameCodec, CommandOf126CharactersFillsPayloadToItsLastByte) {
    const std::string line = std::string(126, 'K') + "\n";
    const auto payload = BuildTextPayload(line);
    ASSERT_TRUE(payload);
    EXPECT_EQ((*payload)[125], 'K');
    EXPECT_EQ((*payload)[126], '\n');
    EXPECT_EQ((*payload)[127], 0);
    EXPECT_FALSE(BuildTextPayload(std::string(128, 'K')));
    EXPECT_FALSE(BuildFileEntry(std::string(80, 'n'), 1));
    EXPECT_TRUE(BuildFileEntry(std::string(79, 'n'), 1));
}

TEST(FrameCodec, EncodedLengthIsExactlyPayloadPlusEscapesPlusFraming) {
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        Bytes payload(rng() % (kMaxPayload + 1));
        std::size_t escapes = 0;
        for (auto& b : payload) {
            b = static_cast<std::uint8_t>(rng() % 8 == 0 ? 0x7D + rng() % 3 : rng());
            escapes += NeedsEscape(b);
        }
        const FrameHeader h{0x41, 96, 3, 1};
        const std::uint8_t sum = FrameChecksum(h, payload);
        const Bytes frame = Encode(h, payload);
        EXPECT_EQ(frame.size(), 7 + payload.size() + escapes + NeedsEscape(sum));
        EXPECT_EQ(EncodedFrameSize(h, payload), frame.size());
    }
}

TEST(FrameCodec, RefusesWhatDoesNotFit) {
    Bytes out(kMaxEncodedFrame);
    EXPECT_EQ(EncodeFrame({}, Bytes(kMaxPayload + 1), out), 0u);
    // Worst case fits the largest legal frame exactly, and one byte less does not.
    const Bytes worst(kMaxPayload, 0x7E);
    const FrameHeader h{0x7F, 0x7E, 0x7D, 0x7D};
    const std::size_t need = EncodedFrameSize(h, worst);
    EXPECT_LE(need, kMaxEncodedFrame);
    EXPECT_EQ(EncodeFrame(h, worst, std::span(out).first(need)), need);
    EXPECT_EQ(EncodeFrame(h, worst, std::span(out).first(need - 1)), 0u);
    Bytes tiny(6);
    EXPECT_EQ(EncodeFrame({0x41, 80, 1, 0}, {}, tiny), 0u);
}

// Round trips of random and all-marker payloads, the input split at every boundary.
class AssemblerSplit : public ::testing::TestWithParam<int> {};

TEST_P(AssemblerSplit, RoundTripsSplitAtEveryBoundary) {
    std::mt19937 rng(static_cast<unsigned>(GetParam()));
    Bytes payload(GetParam() == 0 ? 64 : 300);
    for (auto& b : payload) {
        b = GetParam() == 1 ? static_cast<std::uint8_t>(0x7D + rng() % 3)
                            : static_cast<std::uint8_t>(rng());
    }
    const FrameHeader h{0x41, 96, 2, 1};
    const Bytes wire = Encode(h, payload);
    for (std::size_t cut = 0; cut <= wire.size(); ++cut) {
        FrameAssembler a;
        const auto first = a.Feed(std::span(wire).first(cut));
        if (cut < wire.size()) {
            ASSERT_EQ(first.status, FrameAssembler::Status::NeedMore) << cut;
            ASSERT_EQ(first.consumed, cut);
            const auto second = a.Feed(std::span(wire).subspan(cut));
            ASSERT_EQ(second.status, FrameAssembler::Status::Frame) << cut;
            ASSERT_EQ(second.consumed, wire.size() - cut);
        } else {
            ASSERT_EQ(first.status, FrameAssembler::Status::Frame);
        }
        EXPECT_EQ(Bytes(a.frame().payload.begin(), a.frame().payload.end()), payload);
        EXPECT_EQ(a.frame().header.index, 1);
        EXPECT_EQ(a.frame().header.count, 2);
    }
}

INSTANTIATE_TEST_SUITE_P(Payloads, AssemblerSplit, ::testing::Values(0, 1, 2));

TEST(FrameAssembler, LargestFramesAndTwoFramesInOneInput) {
    const Bytes a(kMaxPayload, 0x7F);
    const Bytes b(kMaxPayload, 0x11);
    Bytes wire = Encode({0x41, 96, 2, 0}, a);
    const Bytes second = Encode({0x41, 96, 2, 1}, b);
    wire.insert(wire.end(), second.begin(), second.end());
    FrameAssembler asm_;
    const Collected c = FeedAll(asm_, wire);
    ASSERT_EQ(c.payloads.size(), 2u);
    EXPECT_EQ(c.payloads[0], a);
    EXPECT_EQ(c.payloads[1], b);
}

struct BadInput {
    const char* name;
    Bytes wire;
    FrameAssembler::Status expect;
};

class AssemblerRejects : public ::testing::TestWithParam<BadInput> {};

TEST_P(AssemblerRejects, WithTheRightError) {
    FrameAssembler a;
    const Collected c = FeedAll(a, GetParam().wire);
    EXPECT_EQ(c.last, GetParam().expect);
    EXPECT_TRUE(c.payloads.empty());
    EXPECT_FALSE(a.InFrame());
}

Bytes Oversized() {
    // 4,097 payload bytes: one more than any legal frame carries.
    Bytes w{0x7F, 0x41, 96, 1, 0};
    w.insert(w.end(), kMaxPayload + 1, 0x11);
    w.push_back(0);
    w.push_back(0x7E);
    return w;
}

Bytes LongerThanLongestEscaped() {
    Bytes w{0x7F};
    w.insert(w.end(), kMaxEncodedFrame, 0x7D);
    w.push_back(0x7E);
    return w;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AssemblerRejects,
    ::testing::Values(BadInput{"BytesBeforeStart",
                               {0x00, 0x7F, 0x41, 0x50, 0x01, 0x00, 0x92, 0x7E},
                               FrameAssembler::Status::ErrorPacket},
                      BadInput{"ShorterThanSeven",
                               {0x7F, 0x41, 0x50, 0x01, 0x7E},
                               FrameAssembler::Status::ErrorPacket},
                      BadInput{"EmptyFrame", {0x7F, 0x7E}, FrameAssembler::Status::ErrorPacket},
                      BadInput{"EscapeBeforeEnd",
                               {0x7F, 0x41, 0x50, 0x01, 0x00, 0x92, 0x7D, 0x7E},
                               FrameAssembler::Status::ErrorPacket},
                      BadInput{"BadChecksum",
                               {0x7F, 0x41, 0x50, 0x01, 0x00, 0x93, 0x7E},
                               FrameAssembler::Status::ErrorChecksum},
                      BadInput{"PayloadOver4096", Oversized(), FrameAssembler::Status::ErrorPacket},
                      BadInput{"LongerThanLongestLegal", LongerThanLongestEscaped(),
                               FrameAssembler::Status::ErrorPacket}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FrameAssembler, SecondStartMarkerStartsAgain) {
    Bytes wire{0x7F, 0x41, 0x33};
    const Bytes good = Encode({0x41, 80, 1, 0}, {'Q', 'V'});
    wire.insert(wire.end(), good.begin(), good.end());
    FrameAssembler a;
    const Collected c = FeedAll(a, wire);
    ASSERT_EQ(c.payloads.size(), 1u);
    EXPECT_EQ(c.payloads[0], (Bytes{'Q', 'V'}));
}

TEST(AnswerJoiner, NumbersJoinAndBounds) {
    Bytes data(10);
    AnswerJoiner j(data);
    const Bytes p{1, 2, 3, 4};
    auto frame = [&](std::uint8_t count, std::uint8_t index) {
        return FrameView{FrameHeader{0x41, 96, count, index}, p};
    };
    EXPECT_EQ(j.Add(frame(3, 0)).progress, 33);
    EXPECT_EQ(j.Add(frame(3, 1)).progress, 66);
    // Frames 0, 1, 3: the third is out of order.
    EXPECT_EQ(j.Add(frame(4, 3)).outcome, AnswerJoiner::Outcome::ErrorSequence);
    // 8 of 10 bytes used: a third payload of 4 would overflow.
    EXPECT_EQ(j.Add(frame(3, 2)).outcome, AnswerJoiner::Outcome::ErrorOverflow);
    EXPECT_EQ(j.length(), 8u);
    j.Reset();
    // count 0 and count 1 both complete at once.
    EXPECT_EQ(j.Add(frame(0, 0)).outcome, AnswerJoiner::Outcome::Complete);
    j.Reset();
    EXPECT_EQ(j.Add(frame(1, 0)).outcome, AnswerJoiner::Outcome::Complete);
    j.Reset();
    // A first frame numbered 1 is refused.
    EXPECT_EQ(j.Add(frame(2, 1)).outcome, AnswerJoiner::Outcome::ErrorSequence);
}

}  // namespace
}  // namespace qv
