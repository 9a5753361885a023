#include "velkar/imageprocessing/LABColorTransformation.h"

#include <cmath>

#include "velkar/imageprocessing/XYZColorTransformation.h"

namespace velkar::imageprocessing {

namespace {

double LabCompanding(double t) {
    return t > 0.008856 ? std::pow(t, 1.0 / 3.0) : 7.787 * t + 16.0 / 116.0;
}

}  // namespace

void LABColorTransformation::ForwardTransformation(const Pixel& in, Pixel& out) const {
    // Only the three channels of the XYZ step are used; its count stays in the local pixel.
    Pixel xyz;
    XYZColorTransformation::AdobeRgb1998().ForwardTransformation(in, xyz);
    const double fx = LabCompanding(xyz[0] / 255.0 / 0.95045);
    const double fy = LabCompanding(xyz[1] / 255.0);
    const double fz = LabCompanding(xyz[2] / 255.0 / 1.08905);
    out[0] = ToByte((116.0 * fy - 16.0) * 255.0 / 100.0);
    out[1] = ToByte((fx - fy) * 500.0 + 127.0);
    out[2] = ToByte((fy - fz) * 200.0 + 127.0);
}

void LABColorTransformation::BackwardTransformation(const Pixel&, Pixel&) const {}

std::string LABColorTransformation::ShortName() const { return "lab"; }

}  // namespace velkar::imageprocessing
