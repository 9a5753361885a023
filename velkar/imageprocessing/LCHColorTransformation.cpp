#include "velkar/imageprocessing/LCHColorTransformation.h"

#include <cmath>
#include <numbers>

#include "velkar/imageprocessing/LABColorTransformation.h"

namespace velkar::imageprocessing {

void LCHColorTransformation::ForwardTransformation(const Pixel& in, Pixel& out) const {
    Pixel lab;
    LABColorTransformation().ForwardTransformation(in, lab);
    const int a = lab[1] - 127;
    const int b = lab[2] - 127;
    const double chroma = std::sqrt(static_cast<double>(a * a + b * b)) * 255.0 / 100.0;
    double hue =
        std::atan2(static_cast<double>(b), static_cast<double>(a)) * (180.0 / std::numbers::pi);
    if (hue < 0.0) {
        hue += 360.0;
    }
    out[0] = lab[0];
    out[1] = ToByte(chroma);
    out[2] = ToByte(hue * 255.0 / 360.0);
}

void LCHColorTransformation::BackwardTransformation(const Pixel&, Pixel&) const {}

std::string LCHColorTransformation::ShortName() const { return "lch"; }

}  // namespace velkar::imageprocessing
