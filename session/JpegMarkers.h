// The marker layout of a JPEG file, read without decoding it: enough to refuse a frame whose
// decoding would cost far more than a screen is worth, before the decoder sees a byte of it.
// Pure: bytes in, verdict out; no Qt, no I/O.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv {

struct JpegLimits {
    std::uint32_t maxScans = 100;
    std::uint32_t maxSide = 4096;
    std::uint64_t maxPixels = 1600ULL * 1200ULL;
    // A scan can cost a pass over every pixel for a dozen bytes of data: scans times pixels
    // is what a frame costs to decode.
    std::uint64_t maxScanPixels = 100ULL * 800ULL * 600ULL;
};

struct JpegLayout {
    enum class Verdict {
        Ok,
        NotJpeg,       // no start-of-image marker
        Malformed,     // a segment the decoder would refuse or that would hide a scan
        Truncated,     // the data ends before the end-of-image marker
        TooLarge,      // the frame header's size is beyond the limits
        TooManyScans,  // more scans, or scans times pixels, than the limits
    };
    Verdict verdict = Verdict::NotJpeg;
    std::uint8_t frameMarker = 0;  // SOFn: 0xC0 baseline, 0xC2 progressive...
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t components = 0;
    std::uint32_t scans = 0;  // counted so far; limit + 1 when refused for it
    std::size_t end = 0;      // just past the end-of-image marker when Ok

    bool ok() const { return verdict == Verdict::Ok; }
};

// Walks the segments from start-of-image to end-of-image, skipping each scan's entropy-coded
// data the way the decoder does. Linear in size; stops at the first reason to refuse.
JpegLayout WalkJpegMarkers(const std::uint8_t* data, std::size_t size,
                           const JpegLimits& limits = {});

const char* VerdictName(JpegLayout::Verdict verdict);

}  // namespace qv
