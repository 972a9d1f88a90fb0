// The soft-key panel's display scale: settings 0, 1, 2 are 100, 85 and 70 %. Layout, frame
// drawing and the touch mapping all take their factor from here.
#pragma once

namespace qv {

// Single precision on purpose: 0.7f lies below 0.7 (800 x 0.7f truncates to 559) and 0.85f
// above 0.85. Any other setting is 100 %.
float ScaleFactor(int scaleSetting);

// A design length at a scale: the product formed in double precision, truncated toward zero.
int ScaledLength(int length, int scaleSetting);

}  // namespace qv
