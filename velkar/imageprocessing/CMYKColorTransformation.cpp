#include "velkar/imageprocessing/CMYKColorTransformation.h"

#include <algorithm>

namespace velkar::imageprocessing {

void CMYKColorTransformation::ForwardTransformation(const Pixel& in, Pixel& out) const {
    const double c = 1.0 - in[0] / 255.0;
    const double m = 1.0 - in[1] / 255.0;
    const double y = 1.0 - in[2] / 255.0;
    const double k0 = std::min({c, m, y});
    const double black = k0 < 0.3 ? 0.0 : (k0 - 0.3) / 0.7 * 0.9;
    const double underColourRemoval = 0.1 * k0;
    out[0] = ToByte((c - underColourRemoval) * 255.0);
    out[1] = ToByte((m - underColourRemoval) * 255.0);
    out[2] = ToByte((y - underColourRemoval) * 255.0);
    out[3] = ToByte(black * 255.0);
}

void CMYKColorTransformation::BackwardTransformation(const Pixel&, Pixel&) const {}

std::string CMYKColorTransformation::ShortName() const { return "cmyk"; }

}  // namespace velkar::imageprocessing
