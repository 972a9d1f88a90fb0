#include "panels/softkey/SoftLayout.h"

#include "session/DisplayScale.h"

namespace {

namespace skin = qv::skin;

// Panel backgrounds by scale; screen mode stretches the plain screen image.
constexpr int kPanelBackground[3] = {143, 454, 355};
constexpr int kScreenBackground = 142;

// The front panel's design size and the screen's place in it.
constexpr int kPanelWidth = 1282;
constexpr int kPanelHeight = 767;
constexpr int kScreenLeft = 41;
constexpr int kScreenTop = 39;
// What the title bar and borders add to the client lengths in the outer sizes below.
constexpr int kFrameHeight = 56;
constexpr int kScreenModeFrameWidth = 5;

int ValidScale(int scale) {
    return scale >= 0 && scale <= 2 ? scale : 0;
}

}  // namespace

SoftLayout::SoftLayout(int scale, bool screenMode)
    : scale_(ValidScale(scale)), screenMode_(screenMode) {}

int SoftLayout::Scaled(int length) const {
    return qv::ScaledLength(length, scale_);
}

QRect SoftLayout::Place(int x, int y, int w, int h) const {
    return {Scaled(x), Scaled(y), Scaled(w), Scaled(h)};
}

QRect SoftLayout::Place(const skin::KeySkin& key) const {
    return Place(key.x, key.y, key.w, key.h);
}

const skin::KnobSkin& SoftLayout::Knob() const {
    for (const skin::KnobSkin& k : skin::kKnobs) {
        if (k.panel == skin::Panel::SoftKey && k.scale == scale_) {
            return k;
        }
    }
    return skin::kKnobs[1];
}

QRect SoftLayout::KnobPlace() const {
    const skin::KnobSkin& k = Knob();
    // The knob's design size is its 100 % image.
    return Place(k.x, k.y, skin::kKnobs[1].size, skin::kKnobs[1].size);
}

qv::ScreenRect SoftLayout::Screen() const {
    if (screenMode_) {
        return {0, 0, Scaled(kScreenWidth), Scaled(kScreenHeight)};
    }
    const int left = Scaled(kScreenLeft);
    const int top = Scaled(kScreenTop);
    return {left, top, left + Scaled(kScreenWidth), top + Scaled(kScreenHeight)};
}

QSize SoftLayout::WindowSize() const {
    if (screenMode_) {
        return {kScreenModeFrameWidth + Scaled(kScreenWidth), kFrameHeight + Scaled(kScreenHeight)};
    }
    return {Scaled(kPanelWidth), kFrameHeight + Scaled(kPanelHeight)};
}

int SoftLayout::BackgroundId() const {
    return screenMode_ ? kScreenBackground : kPanelBackground[scale_];
}

QSize SoftLayout::BackgroundSize() const {
    if (screenMode_) {
        return {Scaled(kScreenWidth), Scaled(kScreenHeight)};
    }
    if (const skin::Entry* e = skin::Find(BackgroundId())) {
        return {e->width, e->height};
    }
    return {Scaled(kPanelWidth), Scaled(kPanelHeight)};
}

QSize SoftLayout::ClientSize() const {
    const QSize bg = BackgroundSize();
    return {bg.width(), bg.height() + kStatusBarHeight};
}
