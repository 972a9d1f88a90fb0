// Artwork of the skin: front-panel housings, keys, knob frames and icons, painted with QPainter
// at the catalogue's exact sizes.
#pragma once

#include <QImage>
#include <map>

#include "widgets/SkinCatalogue.h"

namespace skingen {

class SkinPainter {
  public:
    // One catalogue entry at its exact size. Only keys of the hard-key panel (masked buttons)
    // carry pure white, and only outside their moulding.
    QImage Paint(const qv::skin::Entry& entry);
    // The large program icon (desktop, window).
    QImage AppIcon(int size);
    // Every image with its number, and both panels put together.
    QImage ContactSheet();

  private:
    const QImage& Background(qv::skin::Panel panel, int scale);
    QImage PaintKey(const qv::skin::Entry& entry);
    QImage PaintKnob(const qv::skin::Entry& entry);
    QImage Assemble(qv::skin::Panel panel, int scale);

    std::map<int, QImage> backgrounds_;  // by skin number
};

double ScaleFactor(int scale);
int Scaled(int length, int scale);

}  // namespace skingen
