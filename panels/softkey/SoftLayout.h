// Where everything of the soft-key panel sits at one display scale and mode. All lengths are
// design lengths (100 %) times the scale factor, each truncated on its own.
#pragma once

#include <QRect>
#include <QSize>

#include "session/ScreenRect.h"
#include "widgets/SkinCatalogue.h"

class SoftLayout {
  public:
    static constexpr int kStatusBarHeight = 20;
    // The instrument's screen at 100 %.
    static constexpr int kScreenWidth = 800;
    static constexpr int kScreenHeight = 600;

    // scale: 0, 1, 2 for 100, 85 and 70 %; any other value lays out at 100 %.
    SoftLayout(int scale, bool screenMode);

    // Single precision on purpose: 0.7f lies below 0.7, so 800 x 0.7f truncates to 559.
    static float Factor(int scale);

    int scale() const { return scale_; }
    bool screenMode() const { return screenMode_; }

    // trunc(length x factor), the product formed in double precision.
    int Scaled(int length) const;
    QRect Place(int x, int y, int w, int h) const;
    QRect Place(const qv::skin::KeySkin& key) const;
    QRect KnobPlace() const;

    qv::ScreenRect Screen() const;
    // The window's outer size as the panel's design gives it (frame included).
    QSize WindowSize() const;
    // The client area we set: the background plus the status bar below it.
    QSize ClientSize() const;
    // Background image number and the size it is drawn at from the client origin.
    int BackgroundId() const;
    QSize BackgroundSize() const;

    // The knob's thirteen images at this scale (index 0 the disabled one).
    const qv::skin::KnobSkin& Knob() const;

  private:
    int scale_;
    bool screenMode_;
};
