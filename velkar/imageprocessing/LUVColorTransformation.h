#pragma once

// RGB -> CIE L*u*v*, one byte per channel, from the Adobe RGB (1998) XYZ bytes scaled by 1/255
// (no reference white): L from y, u* = 13 L (u' - u'n), v* = 13 L (v' - v'n), and
// out = (byte(L * 255/100), byte(255 (u* + 134) / 354), byte(255 (v* + 140) / 262)).
// Black has u', v' = 0/0; the resulting not-a-number channels are stored as 0, so black gives
// (0, 0, 0). Components 3 and count are not touched; BackwardTransformation leaves its output
// untouched. The unscaled L and chromaticity offsets are shared with SCH.

#include <string>

#include "velkar/imageprocessing/ColorSpaceTransformation.h"

namespace velkar::imageprocessing {

class LUVColorTransformation : public ColorSpaceTransformation {
  public:
    // L in [0, 100] and the chromaticity (u', v') minus that of the reference white; du and dv
    // are not numbers for black.
    struct Coordinates {
        double lightness;
        double du;
        double dv;
    };

    static Coordinates FromRgb(const Pixel& rgb);

    void ForwardTransformation(const Pixel& in, Pixel& out) const override;
    void BackwardTransformation(const Pixel& in, Pixel& out) const override;
    std::string ShortName() const override;
};

}  // namespace velkar::imageprocessing
