// A 5x7 bitmap font for ASCII 32..126, drawn with filled rectangles so screen rendering needs
// no font database and no GUI application object.
#pragma once

#include <string_view>

class QPainter;
class QColor;

namespace qv::sim {

class SimFont {
  public:
    static constexpr int kGlyphWidth = 5;
    static constexpr int kGlyphHeight = 7;
    // Horizontal advance per character, in font pixels.
    static constexpr int kAdvance = kGlyphWidth + 1;

    // Draws text with its top-left corner at (x, y); every font pixel is scale x scale.
    // Characters outside the table draw as a box. Returns the x after the last character.
    static int Draw(QPainter& painter, int x, int y, std::string_view text, int scale,
                    const QColor& color);
    static int Width(std::string_view text, int scale) {
        return static_cast<int>(text.size()) * kAdvance * scale;
    }
};

}  // namespace qv::sim
