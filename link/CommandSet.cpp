#include "link/CommandSet.h"

#include <cstring>

namespace qv {

std::optional<FileEntry> BuildFileEntry(std::string_view name, std::uint32_t size) {
    if (name.size() > kFileEntryNameMax) {
        return std::nullopt;
    }
    FileEntry entry{};
    std::memcpy(entry.data(), name.data(), name.size());
    entry[80] = static_cast<std::uint8_t>(size);
    entry[81] = static_cast<std::uint8_t>(size >> 8);
    entry[82] = static_cast<std::uint8_t>(size >> 16);
    entry[83] = static_cast<std::uint8_t>(size >> 24);
    return entry;
}

std::optional<TextPayload> BuildTextPayload(std::string_view text) {
    if (text.size() > kTextMax) {
        return std::nullopt;
    }
    TextPayload payload{};
    std::memcpy(payload.data(), text.data(), text.size());
    return payload;
}

}  // namespace qv
