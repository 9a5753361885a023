#include "velkar/imageprocessing/HSLColorTransformation.h"

#include <algorithm>
#include <cmath>

#include "velkar/imageprocessing/HSVColorTransformation.h"

namespace velkar::imageprocessing {

void HSLColorTransformation::ForwardTransformation(const Pixel& in, Pixel& out) const {
    const int max = std::max({in[0], in[1], in[2]});
    const int min = std::min({in[0], in[1], in[2]});
    const int delta = max - min;
    // Deliberately (1, 0, 0) for every grey, lightness included.
    if (delta == 0) {
        out[0] = 1;
        out[1] = 0;
        out[2] = 0;
        return;
    }
    const double lightness = (max / 255.0 + min / 255.0) * 0.5;
    const double halfSpread = delta / 255.0 * 0.5;
    const double saturation =
        lightness <= 0.5 ? halfSpread / lightness : halfSpread / (1.0 - lightness);
    out[0] = ToByte(HSVColorTransformation::Hue(in) / 6.0 * 255.0);
    out[1] = ToByte(saturation * 255.0);
    out[2] = ToByte(lightness * 255.0);
}

void HSLColorTransformation::BackwardTransformation(const Pixel& in, Pixel& out) const {
    const double h = in[0] / 255.0 * 6.0;
    const double saturation = in[1] / 255.0;
    const double lightness = in[2] / 255.0;
    const double spread = (1.0 - std::abs(2.0 * lightness - 1.0)) * saturation;
    const double middle = spread * (1.0 - std::abs(std::fmod(h, 2.0) - 1.0));
    const double smallest = lightness - spread / 2.0;
    const int sextant = static_cast<int>(h) % 6;
    const double sextants[6][3] = {{spread, middle, 0.0}, {middle, spread, 0.0},
                                   {0.0, spread, middle}, {0.0, middle, spread},
                                   {middle, 0.0, spread}, {spread, 0.0, middle}};
    for (int channel = 0; channel < 3; ++channel) {
        out[channel] = ToByte(std::round((sextants[sextant][channel] + smallest) * 255.0));
    }
}

std::string HSLColorTransformation::ShortName() const { return "hsl"; }

}  // namespace velkar::imageprocessing
