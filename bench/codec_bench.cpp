// Frame encode and decode throughput beside memcpy, on random and all-marker payloads.
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "bench/BenchStats.h"
#include "link/FrameAssembler.h"
#include "link/FrameCodec.h"

namespace {

using qv::bench::Clock;

constexpr int kFrames = 20000;  // of 4,096 bytes: about 80 MB per figure

double MBps(std::size_t bytes, Clock::duration d) {
    return static_cast<double>(bytes) / 1e6 / std::chrono::duration<double>(d).count();
}

void Run(const char* name, const std::vector<std::uint8_t>& payload) {
    std::vector<std::uint8_t> wire(qv::kMaxEncodedFrame);
    std::vector<std::uint8_t> copy(payload.size());
    const std::size_t total = payload.size() * kFrames;

    auto t0 = Clock::now();
    std::size_t sink = 0;
    for (int i = 0; i < kFrames; ++i) {
        std::memcpy(copy.data(), payload.data(), payload.size());
        sink += copy[static_cast<std::size_t>(i) % copy.size()];
    }
    const auto memcpyTime = Clock::now() - t0;

    t0 = Clock::now();
    std::size_t size = 0;
    for (int i = 0; i < kFrames; ++i) {
        size = qv::EncodeFrame(qv::FrameHeader{0x41, 96, 1, 0}, payload, wire);
        sink += wire[size - 2];
    }
    const auto encodeTime = Clock::now() - t0;

    qv::FrameAssembler assembler;
    t0 = Clock::now();
    for (int i = 0; i < kFrames; ++i) {
        const auto r = assembler.Feed(std::span(wire.data(), size));
        sink += static_cast<std::size_t>(r.status) + assembler.frame().payload.size();
    }
    const auto decodeTime = Clock::now() - t0;

    std::printf(
        "%-12s wire %5zu B/frame  memcpy %8.0f MB/s  encode %7.0f MB/s  decode %7.0f MB/s"
        "  (sink %zu)\n",
        name, size, MBps(total, memcpyTime), MBps(total, encodeTime), MBps(total, decodeTime),
        sink % 10);
}

}  // namespace

int main() {
    std::mt19937 rng(1);
    std::vector<std::uint8_t> random(qv::kMaxPayload);
    for (auto& b : random) {
        b = static_cast<std::uint8_t>(rng());
    }
    Run("random", random);
    Run("all-markers", std::vector<std::uint8_t>(qv::kMaxPayload, qv::kFrameEnd));
    return 0;
}
