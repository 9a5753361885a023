#pragma once

// RGB <-> HSV, one byte per channel: hue h in [0, 6) stored as byte(h / 6 * 255), saturation
// (max - min) / max stored as byte(s * 255), and value = max unchanged. A grey pixel
// (max = min) becomes (1, 0, max); forward hue bytes stay below 255. Backward maps the bytes to
// the hexcone sextants and truncates each channel. A hue byte spans 6/255 of a sextant, so
// backward(forward(p)) is within 1 + 6 (max - min) / 255 of p per channel: one byte for
// spreads below 43, up to 7 for fully saturated colours. Components 3 and count not touched.

#include <string>

#include "velkar/imageprocessing/ColorSpaceTransformation.h"

namespace velkar::imageprocessing {

class HSVColorTransformation : public ColorSpaceTransformation {
  public:
    void ForwardTransformation(const Pixel& in, Pixel& out) const override;
    void BackwardTransformation(const Pixel& in, Pixel& out) const override;
    std::string ShortName() const override;

    // Hue of a colour whose components are not all equal, in sextants [0, 6): 0 red, 2 green,
    // 4 blue. Ties for the maximum go to red, then green. Shared with HSL.
    static double Hue(const Pixel& rgb);
};

}  // namespace velkar::imageprocessing
