#include "velkar/imageprocessing/HSIColorTransformation.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace velkar::imageprocessing {

void HSIColorTransformation::ForwardTransformation(const Pixel& in, Pixel& out) const {
    const int r = in[0];
    const int g = in[1];
    const int b = in[2];
    const int numerator = 2 * r - g - b;
    const int radicand = (r - g) * (r - g) + (g - b) * (r - b);
    // The small offset keeps grey (numerator and radicand 0) at a right angle instead of 0/0.
    const double theta = std::acos(numerator / (2.0 * (std::sqrt(radicand) + 0.00001)));
    const double hue = b <= g ? theta : 2.0 * std::numbers::pi - theta;
    out[0] = ToByte(hue / (2.0 * std::numbers::pi) * 255.0);
    const int min = std::min({r, g, b});
    out[1] = ToByte((1.0 - 3 * min / (r + g + b + 0.00001)) * 255.0);
    out[2] = static_cast<std::uint8_t>((r + g + b) / 3);
}

void HSIColorTransformation::BackwardTransformation(const Pixel& in, Pixel& out) const {
    constexpr double kSector = 2.0 * std::numbers::pi / 3.0;
    double hue = in[0] / 255.0 * 2.0 * std::numbers::pi;
    const double saturation = in[1] / 255.0;
    const double intensity = in[2];
    // Sector 0 starts at red, 1 at green, 2 at blue; a hue byte of 255 is still sector 2.
    const int sector = std::min(static_cast<int>(hue / kSector), 2);
    hue -= sector * kSector;
    const double before = intensity * (1.0 - saturation);
    const double leading =
        intensity * (1.0 + saturation * std::cos(hue) / std::cos(std::numbers::pi / 3.0 - hue));
    const double following = 3.0 * intensity - before - leading;
    double rgb[3];
    rgb[sector] = leading;
    rgb[(sector + 1) % 3] = following;
    rgb[(sector + 2) % 3] = before;
    for (int channel = 0; channel < 3; ++channel) {
        out[channel] = ToByte(std::clamp(std::round(rgb[channel]), 0.0, 255.0));
    }
}

std::string HSIColorTransformation::ShortName() const { return "hsi"; }

}  // namespace velkar::imageprocessing
