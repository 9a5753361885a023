#include "velkar/imageprocessing/ColorSpaceTransformation.h"

#include <cmath>

namespace velkar::imageprocessing {

std::uint8_t ColorSpaceTransformation::ToByte(double value) {
    if (!std::isfinite(value)) {
        return 0;
    }
    const double truncated = std::trunc(value);
    if (truncated < -2147483648.0 || truncated > 2147483647.0) {
        return 0;
    }
    // Two's complement: the low byte of -1 is 255.
    const auto asUnsigned = static_cast<std::uint32_t>(static_cast<std::int32_t>(truncated));
    return static_cast<std::uint8_t>(asUnsigned & 0xFFu);
}

void ColorSpaceTransformation::ApplyMatrix(const double (&matrix)[3][3], const Pixel& in,
                                           Pixel& out) {
    const double r = in[0];
    const double g = in[1];
    const double b = in[2];
    for (int row = 0; row < 3; ++row) {
        out[row] = ToByte(r * matrix[row][0] + g * matrix[row][1] + b * matrix[row][2]);
    }
}

}  // namespace velkar::imageprocessing
