#include "velkar/imageprocessing/HSVColorTransformation.h"

#include <algorithm>

namespace velkar::imageprocessing {

double HSVColorTransformation::Hue(const Pixel& rgb) {
    const int r = rgb[0];
    const int g = rgb[1];
    const int b = rgb[2];
    const int max = std::max({r, g, b});
    const double delta = max - std::min({r, g, b});
    double hue;
    if (r == max) {
        hue = (g - b) / delta;
    } else if (g == max) {
        hue = (b - r) / delta + 2.0;
    } else {
        hue = (r - g) / delta + 4.0;
    }
    return hue < 0.0 ? hue + 6.0 : hue;
}

void HSVColorTransformation::ForwardTransformation(const Pixel& in, Pixel& out) const {
    const int max = std::max({in[0], in[1], in[2]});
    const int delta = max - std::min({in[0], in[1], in[2]});
    // With byte inputs a difference below any positive threshold is exactly zero.
    if (delta == 0) {
        out[0] = 1;
        out[1] = 0;
        out[2] = static_cast<std::uint8_t>(max);
        return;
    }
    out[0] = ToByte(Hue(in) / 6.0 * 255.0);
    out[1] = ToByte(static_cast<double>(delta) / max * 255.0);
    out[2] = static_cast<std::uint8_t>(max);
}

void HSVColorTransformation::BackwardTransformation(const Pixel& in, Pixel& out) const {
    const double h = in[0] / 255.0 * 6.0;
    const double s = in[1] / 255.0;
    const double v = in[2] / 255.0;
    const int sextant = static_cast<int>(h) % 6;
    // A hue byte of 255 is sextant 0 with f = 6; forward never produces it.
    const double f = h - sextant;
    const double p = v * (1.0 - s);
    const double q = v * (1.0 - s * f);
    const double t = v * (1.0 - s * (1.0 - f));
    const double sextants[6][3] = {{v, t, p}, {q, v, p}, {p, v, t},
                                   {p, q, v}, {t, p, v}, {v, p, q}};
    const double(&rgb)[3] = sextants[sextant];
    for (int channel = 0; channel < 3; ++channel) {
        out[channel] = ToByte(rgb[channel] * 255.0);
    }
}

std::string HSVColorTransformation::ShortName() const { return "hsv"; }

}  // namespace velkar::imageprocessing
