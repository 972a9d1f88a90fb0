#include "session/DisplayScale.h"

namespace qv {

float ScaleFactor(int scaleSetting) {
    switch (scaleSetting) {
        case 1:
            return 0.85f;
        case 2:
            return 0.7f;
        default:
            return 1.0f;
    }
}

int ScaledLength(int length, int scaleSetting) {
    return static_cast<int>(static_cast<double>(length) *
                            static_cast<double>(ScaleFactor(scaleSetting)));
}

}  // namespace qv
