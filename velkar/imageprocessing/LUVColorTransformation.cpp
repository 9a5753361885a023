#include "velkar/imageprocessing/LUVColorTransformation.h"

#include <cmath>

#include "velkar/imageprocessing/XYZColorTransformation.h"

namespace velkar::imageprocessing {

namespace {

// Chromaticity of the reference white.
constexpr double kWhiteU = 0.20088762188603454;
constexpr double kWhiteV = 0.46088308659172633;

}  // namespace

LUVColorTransformation::Coordinates LUVColorTransformation::FromRgb(const Pixel& rgb) {
    Pixel xyz;
    XYZColorTransformation::AdobeRgb1998().ForwardTransformation(rgb, xyz);
    const double x = xyz[0] / 255.0;
    const double y = xyz[1] / 255.0;
    const double z = xyz[2] / 255.0;
    // 0/0 for black on purpose: the byte rule stores the resulting not-a-number as 0.
    const double denominator = x + 15.0 * y + 3.0 * z;
    const double uPrime = 4.0 * x / denominator;
    const double vPrime = 9.0 * y / denominator;
    // (29/3)^3, cubed from the 16-digit decimal on purpose.
    constexpr double kDarkSlope = 9.666666666666666 * 9.666666666666666 * 9.666666666666666;
    const double lightness = y <= 0.008856 ? kDarkSlope * y : 116.0 * std::pow(y, 1.0 / 3.0) - 16.0;
    return {lightness, uPrime - kWhiteU, vPrime - kWhiteV};
}

void LUVColorTransformation::ForwardTransformation(const Pixel& in, Pixel& out) const {
    const Coordinates luv = FromRgb(in);
    const double uStar = 13.0 * luv.lightness * luv.du;
    const double vStar = 13.0 * luv.lightness * luv.dv;
    out[0] = ToByte(luv.lightness * 255.0 / 100.0);
    out[1] = ToByte(255.0 * (uStar + 134.0) / 354.0);
    out[2] = ToByte(255.0 * (vStar + 140.0) / 262.0);
}

void LUVColorTransformation::BackwardTransformation(const Pixel&, Pixel&) const {}

std::string LUVColorTransformation::ShortName() const { return "luv"; }

}  // namespace velkar::imageprocessing
