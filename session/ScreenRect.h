// The client-area rectangle a frame is drawn into; clicks inside it are touches.
#pragma once

namespace qv {

struct ScreenRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    // Half-open: the right and bottom edges are outside.
    bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
    int width() const { return right - left; }
    int height() const { return bottom - top; }
};

}  // namespace qv
