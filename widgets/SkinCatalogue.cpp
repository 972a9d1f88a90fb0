#include "widgets/SkinCatalogue.h"

#include <algorithm>

namespace qv::skin {

const Entry* Find(int number) {
    const auto it = std::find_if(kCatalogue.begin(), kCatalogue.end(),
                                 [number](const Entry& e) { return e.number == number; });
    return it == kCatalogue.end() ? nullptr : &*it;
}

std::span<const Entry> Catalogue() {
    return kCatalogue;
}

const char* StateName(State state) {
    switch (state) {
        case State::Normal:
            return "normal";
        case State::Pressed:
            return "pressed";
        case State::Focus:
            return "focus";
        case State::Disabled:
            return "disabled";
    }
    return "";
}

}  // namespace qv::skin
