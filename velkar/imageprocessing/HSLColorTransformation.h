#pragma once

// RGB <-> HSL, one byte per channel: hue as in HSV, lightness L = (max + min) / 2 / 255 and
// saturation (delta / 255 / 2) / L, or / (1 - L) when L > 0.5, each stored as a truncated byte
// of its 255-fold. Every grey becomes (1, 0, 0), lightness included, so greys cannot be told
// apart after the forward step. Backward: spread C = (1 - |2L - 1|) S, smallest channel
// m = L - C/2, middle channel m + C (1 - |h mod 2 - 1|), placed by the hue sextant and rounded
// to the nearest byte (never outside [0, 255]). For colours that are not grey,
// backward(forward(p)) is within 3 + 6 (max - min) / 255 of p per channel.
// Components 3 and count are not touched.

#include <string>

#include "velkar/imageprocessing/ColorSpaceTransformation.h"

namespace velkar::imageprocessing {

class HSLColorTransformation : public ColorSpaceTransformation {
  public:
    void ForwardTransformation(const Pixel& in, Pixel& out) const override;
    void BackwardTransformation(const Pixel& in, Pixel& out) const override;
    std::string ShortName() const override;
};

}  // namespace velkar::imageprocessing
