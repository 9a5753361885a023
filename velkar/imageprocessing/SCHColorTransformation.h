#pragma once

// RGB -> saturation, chroma and hue in the LUV space: with L, du, dv as in LUV,
// s = 13 sqrt(du^2 + dv^2), C = s L and h = atan2(13 L dv, 13 L du) in degrees, in [0, 360);
// out = (byte(s), byte(C), byte(h * 255/360)). s is deliberately not scaled, so the first
// channel holds small integers (0 to 3 for nearly all colours); C above 255 wraps.
// Black gives (0, 0, 0) through not-a-number channels. Components 3 and count are not
// touched; BackwardTransformation leaves its output untouched.

#include <string>

#include "velkar/imageprocessing/ColorSpaceTransformation.h"

namespace velkar::imageprocessing {

class SCHColorTransformation : public ColorSpaceTransformation {
  public:
    void ForwardTransformation(const Pixel& in, Pixel& out) const override;
    void BackwardTransformation(const Pixel& in, Pixel& out) const override;
    std::string ShortName() const override;
};

}  // namespace velkar::imageprocessing
