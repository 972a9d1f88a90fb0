// libFuzzer over the frame decode: the marker walk and Qt's JPEG decoder behind it (run with
// -timeout=2: a frame the walk accepts must decode in a fraction of that). Whatever the bytes,
// nothing crashes; a picture comes back only for what the walk accepted, at the size it read,
// within the limits; and the verdict depends on the bytes up to the end marker alone.
#include <cstddef>
#include <cstdint>

#include "panels/ImageServices.h"
#include "session/JpegMarkers.h"
#include "tests/fuzz/Fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using qv::ImageServices;
    using qv::fuzz::Check;
    const qv::JpegLimits& limits = ImageServices::kLimits;
    const qv::JpegLayout layout = qv::WalkJpegMarkers(data, size, limits);
    if (layout.ok()) {
        Check(layout.end >= 4 && layout.end <= size);
        Check(data[layout.end - 2] == 0xFF && data[layout.end - 1] == 0xD9);
        Check(layout.scans >= 1 && layout.scans <= limits.maxScans);
        Check(layout.width >= 1 && layout.width <= limits.maxSide);
        Check(layout.height >= 1 && layout.height <= limits.maxSide);
        const std::uint64_t pixels = static_cast<std::uint64_t>(layout.width) * layout.height;
        Check(pixels <= limits.maxPixels && pixels * layout.scans <= limits.maxScanPixels);
        const qv::JpegLayout cut = qv::WalkJpegMarkers(data, layout.end, limits);
        Check(cut.ok() && cut.end == layout.end && cut.scans == layout.scans);
        // Without its end marker the same frame is never whole.
        Check(qv::WalkJpegMarkers(data, layout.end - 1, limits).verdict ==
              qv::JpegLayout::Verdict::Truncated);
    }

    const auto image = ImageServices::DecodeBytes(data, size);
    if (image) {
        Check(layout.ok());
        Check(image->width() == static_cast<int>(layout.width) &&
              image->height() == static_cast<int>(layout.height));
        // Touch the last pixel so a short allocation would show.
        volatile auto pixel = image->pixel(image->width() - 1, image->height() - 1);
        (void)pixel;
    }
    return 0;
}
