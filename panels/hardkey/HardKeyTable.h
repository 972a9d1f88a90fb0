// The keys of the hard-key panel: control id, command text, whether screen mode hides it,
// and its skin row (images and design place). One row per key; the panel walks it.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string_view>

#include "widgets/SkinCatalogue.h"

namespace qv::hardkey {

struct HardKey {
    int id;
    std::string_view command;
    bool hiddenInScreenMode;
    const skin::KeySkin* skin;

    // Normal, pressed, focus, disabled skin numbers as the key shows them at rest.
    std::array<int, 4> ReleaseSet() const;
    // While its PC key is held: the pressed picture stands in for the normal one.
    std::array<int, 4> PressSet() const;
};

class HardKeyTable {
  public:
    static std::span<const HardKey> Keys();
    static const HardKey* Find(int id);
    // The command a key control sends, or nothing for an id that is no key.
    static std::optional<std::string_view> Command(int id);
    static const skin::KnobSkin& Knob();
};

}  // namespace qv::hardkey
