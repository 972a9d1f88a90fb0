// The link's pure parts: frame codec, assembler and joiner by byte-exact vectors and round
// trips, and the model table.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "link/AnswerJoiner.h"
#include "link/CommandSet.h"
#include "link/FrameAssembler.h"
#include "link/FrameCodec.h"
#include "link/ModelTable.h"

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
    Bytes overlong{0x7F};
    overlong.insert(overlong.end(), kMaxEncodedFrame, 0x7D);
    overlong.push_back(0x7E);
    const std::pair<Bytes, Status> rejected[] = {
        {{0x00, 0x7F, 0x41, 0x50, 0x01, 0x00, 0x92, 0x7E}, Status::ErrorPacket},  // byte before
        {{0x7F, 0x41, 0x50, 0x01, 0x7E}, Status::ErrorPacket},                    // under seven
        {{0x7F, 0x7E}, Status::ErrorPacket},
        {{0x7F, 0x41, 0x50, 0x01, 0x00, 0x92, 0x7D, 0x7E}, Status::ErrorPacket},  // escaped end
        {{0x7F, 0x41, 0x50, 0x01, 0x00, 0x93, 0x7E}, Status::ErrorChecksum},
        {overlong, Status::ErrorPacket},
    };
    for (const auto& [bad, status] : rejected) {
        SCOPED_TRACE(bad.size());
        FrameAssembler fresh;
        EXPECT_EQ(FeedAll(fresh, bad), std::pair(std::vector<Bytes>{}, status));
        EXPECT_FALSE(fresh.InFrame());
    }
    // One to eight payload bytes too many: the buffer fills at every point of a word.
    for (std::size_t extra = 1; extra <= 8; ++extra) {
        Bytes oversized{0x7F, 0x41, 96, 1, 0};
        oversized.insert(oversized.end(), kMaxPayload + extra, 0x11);
        oversized.insert(oversized.end(), {0, 0x7E});
        FrameAssembler fresh;
        EXPECT_EQ(FeedAll(fresh, oversized), std::pair(std::vector<Bytes>{}, Status::ErrorPacket))
            << extra;
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
