#include "session/JpegMarkers.h"

#include <cstring>

namespace qv {
namespace {

// FF D8 | segment ... | FF D9
//   segment:  FF code | len hi | len lo | payload (len - 2 bytes; len counts itself)
//   alone:    FF D0..D7 (restart), FF 01 (TEM): no length
//   scan:     FF DA | len | Ns | Ns x (Cs, Td/Ta) | Ss | Se | Ah/Al | entropy-coded data
//   in entropy-coded data FF 00 is a data byte and FF D0..D7 a restart; any other FF xx
//   ends the scan. One or more FF may stand before any marker code (fill bytes).
// The walk sees the markers the decoder sees, so no scan can hide from the count.
constexpr std::uint8_t kSoi = 0xD8;
constexpr std::uint8_t kEoi = 0xD9;
constexpr std::uint8_t kSos = 0xDA;

bool IsRestart(std::uint8_t code) {
    return code >= 0xD0 && code <= 0xD7;
}

// Frame types the decoder reads: baseline, extended and progressive, Huffman or arithmetic.
bool IsDecodableFrame(std::uint8_t code) {
    return code == 0xC0 || code == 0xC1 || code == 0xC2 || code == 0xC9 || code == 0xCA;
}

// Lossless and hierarchical frames: the decoder refuses them.
bool IsOtherFrame(std::uint8_t code) {
    return code == 0xC3 || (code >= 0xC5 && code <= 0xC7) || code == 0xCB ||
           (code >= 0xCD && code <= 0xCF);
}

// Tables, restart interval, line count, application data and comments: skipped here.
bool IsSkippedSegment(std::uint8_t code) {
    return code == 0xC4 || code == 0xCC || code == 0xDB || code == 0xDC || code == 0xDD ||
           (code >= 0xE0 && code <= 0xEF) || code == 0xFE;
}

std::uint32_t Be16(const std::uint8_t* p) {
    return (static_cast<std::uint32_t>(p[0]) << 8) | p[1];
}

}  // namespace

JpegLayout WalkJpegMarkers(const std::uint8_t* data, std::size_t size, const JpegLimits& limits) {
    using Verdict = JpegLayout::Verdict;
    JpegLayout out;
    auto refuse = [&out](Verdict v) {
        out.verdict = v;
        return out;
    };
    if (data == nullptr || size < 2 || data[0] != 0xFF || data[1] != kSoi) {
        return refuse(Verdict::NotJpeg);
    }
    std::size_t pos = 2;
    for (;;) {
        // The next marker, found as the decoder finds it: whatever stands before it is
        // skipped (a scan's entropy-coded data, or stray bytes), FF 00 and fill bytes too.
        std::uint8_t code = 0;
        while (code == 0) {
            const void* ff = pos < size ? std::memchr(data + pos, 0xFF, size - pos) : nullptr;
            if (ff == nullptr) {
                return refuse(Verdict::Truncated);
            }
            pos = static_cast<std::size_t>(static_cast<const std::uint8_t*>(ff) - data) + 1;
            while (pos < size && data[pos] == 0xFF) {
                ++pos;
            }
            if (pos >= size) {
                return refuse(Verdict::Truncated);
            }
            code = data[pos++];
        }
        if (code == kEoi) {
            if (out.frameMarker == 0 || out.scans == 0) {
                return refuse(Verdict::Malformed);  // tables only, no picture
            }
            out.end = pos;
            out.verdict = Verdict::Ok;
            return out;
        }
        if (IsRestart(code) || code == 0x01) {
            continue;
        }
        if (code == kSoi || IsOtherFrame(code)) {
            return refuse(Verdict::Malformed);
        }
        if (size - pos < 2) {
            return refuse(Verdict::Truncated);
        }
        const std::size_t length = Be16(data + pos);
        if (length < 2) {
            return refuse(Verdict::Malformed);
        }
        if (size - pos < length) {
            return refuse(Verdict::Truncated);
        }
        const std::uint8_t* body = data + pos + 2;
        const std::size_t bodyLength = length - 2;
        pos += length;

        if (IsDecodableFrame(code)) {
            // P | Y hi lo | X hi lo | Nf | Nf x (C, H/V, Tq)
            if (out.frameMarker != 0 || bodyLength < 6) {
                return refuse(Verdict::Malformed);
            }
            out.frameMarker = code;
            out.height = Be16(body + 1);
            out.width = Be16(body + 3);
            out.components = body[5];
            if (out.components < 1 || out.components > 4 ||
                bodyLength != 6 + 3 * static_cast<std::size_t>(out.components)) {
                return refuse(Verdict::Malformed);
            }
            // A height of 0 (given later by a line-count segment) is refused with the rest:
            // no screen needs it.
            if (out.width == 0 || out.height == 0) {
                return refuse(Verdict::Malformed);
            }
            if (out.width > limits.maxSide || out.height > limits.maxSide ||
                static_cast<std::uint64_t>(out.width) * out.height > limits.maxPixels) {
                return refuse(Verdict::TooLarge);
            }
            continue;
        }
        if (code != kSos) {
            if (!IsSkippedSegment(code)) {
                return refuse(Verdict::Malformed);
            }
            continue;
        }

        // Ns | Ns x (Cs, Td/Ta) | Ss | Se | Ah/Al
        if (out.frameMarker == 0 || bodyLength < 1) {
            return refuse(Verdict::Malformed);
        }
        const std::size_t inScan = body[0];
        if (inScan < 1 || inScan > 4 || bodyLength != 1 + 2 * inScan + 3) {
            return refuse(Verdict::Malformed);
        }
        ++out.scans;
        if (out.scans > limits.maxScans ||
            static_cast<std::uint64_t>(out.scans) * out.width * out.height > limits.maxScanPixels) {
            return refuse(Verdict::TooManyScans);
        }
        // The entropy-coded data that follows is skipped by the search for the next marker:
        // restarts within it are markers the loop passes over.
    }
}

const char* VerdictName(JpegLayout::Verdict verdict) {
    switch (verdict) {
        case JpegLayout::Verdict::Ok:
            return "ok";
        case JpegLayout::Verdict::NotJpeg:
            return "not a JPEG";
        case JpegLayout::Verdict::Malformed:
            return "malformed";
        case JpegLayout::Verdict::Truncated:
            return "truncated";
        case JpegLayout::Verdict::TooLarge:
            return "too large";
        case JpegLayout::Verdict::TooManyScans:
            return "too many scans";
    }
    return "?";
}

}  // namespace qv
