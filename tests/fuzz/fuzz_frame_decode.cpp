// libFuzzer over the frame decoder: corrupt JPEGs must be refused, never crash.
#include <cstddef>
#include <cstdint>

#include "panels/ImageServices.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto image = qv::ImageServices::DecodeBytes(data, size);
    if (image) {
        // Touch the pixels so a bad allocation would show.
        volatile auto pixel = image->pixel(image->width() - 1, image->height() - 1);
        (void)pixel;
    }
    return 0;
}
