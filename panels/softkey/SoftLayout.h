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

    int scale() const { return scale_; }
    bool screenMode() const { return screenMode_; }

    // The design length at this scale (qv::ScaledLength).
    int Scaled(int length) const;
    QRect Place(int x, int y, int w, int h) const;
    QRect Place(const qv::skin::KeySkin& key) const;
    QRect KnobPlace() const;

    qv::ScreenRect Screen() const;
    // The window's outer size at this scale and mode, title bar and borders included.
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
