#pragma once

// RGB -> LCh (lightness, chroma, hue) built on the LAB bytes: with a = A - 127 and
// b = B - 127 as integers, out = (the LAB L byte, byte(sqrt(a^2 + b^2) * 255/100),
// byte(h * 255/360)) where h = atan2(b, a) in degrees, in [0, 360). Chroma above 100 wraps
// through the byte rule. Components 3 and count are not touched; BackwardTransformation
// leaves its output untouched.

#include <string>

#include "velkar/imageprocessing/ColorSpaceTransformation.h"

namespace velkar::imageprocessing {

class LCHColorTransformation : public ColorSpaceTransformation {
  public:
    void ForwardTransformation(const Pixel& in, Pixel& out) const override;
    void BackwardTransformation(const Pixel& in, Pixel& out) const override;
    std::string ShortName() const override;
};

}  // namespace velkar::imageprocessing
