#include "velkar/imageprocessing/SCHColorTransformation.h"

#include <cmath>
#include <numbers>

#include "velkar/imageprocessing/LUVColorTransformation.h"

namespace velkar::imageprocessing {

void SCHColorTransformation::ForwardTransformation(const Pixel& in, Pixel& out) const {
    const LUVColorTransformation::Coordinates luv = LUVColorTransformation::FromRgb(in);
    const double saturation = 13.0 * std::sqrt(luv.du * luv.du + luv.dv * luv.dv);
    const double chroma = saturation * luv.lightness;
    double hue = std::atan2(13.0 * luv.lightness * luv.dv, 13.0 * luv.lightness * luv.du) *
                 (180.0 / std::numbers::pi);
    if (hue < 0.0) {
        hue += 360.0;
    }
    out[0] = ToByte(saturation);
    out[1] = ToByte(chroma);
    out[2] = ToByte(hue * 255.0 / 360.0);
}

void SCHColorTransformation::BackwardTransformation(const Pixel&, Pixel&) const {}

std::string SCHColorTransformation::ShortName() const { return "sch"; }

}  // namespace velkar::imageprocessing
