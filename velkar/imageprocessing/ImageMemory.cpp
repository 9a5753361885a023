#include "velkar/imageprocessing/ImageMemory.h"

#include <FreeImagePlus.h>

#include <cmath>

namespace velkar::imageprocessing {

namespace {

// The low byte of the integer part of 255 * value, as a conversion of the real to an integer
// would leave it. Computed in floating point so that values beyond the range of int wrap
// instead of being undefined; NaN and infinities give 0.
BYTE LowByteOfScaled(double value) {
    const double whole = std::trunc(255.0 * value);
    if (!std::isfinite(whole)) {
        return 0;
    }
    double remainder = std::fmod(whole, 256.0);
    if (remainder < 0) {
        remainder += 256.0;
    }
    return static_cast<BYTE>(remainder);
}

}  // namespace

void save_image(void* memory, std::string filename) {
    if (memory == nullptr) {
        throw std::invalid_argument("save_image: no image given");
    }
    const auto& image = *static_cast<const ImageMemory<double>*>(memory);
    if (image.Bands() < 3) {
        throw std::invalid_argument("save_image: the image has " + std::to_string(image.Bands()) +
                                    " bands, at least 3 are needed");
    }
    fipImage bitmap(FIT_BITMAP, static_cast<unsigned>(image.Width()),
                    static_cast<unsigned>(image.Height()), 32);
    for (int j = 0; j < image.Height(); ++j) {
        for (int i = 0; i < image.Width(); ++i) {
            RGBQUAD colour{};
            colour.rgbRed = LowByteOfScaled(image(i, j, 0));
            colour.rgbGreen = LowByteOfScaled(image(i, j, 1));
            colour.rgbBlue = LowByteOfScaled(image(i, j, 2));
            // Opaque, so that viewers show the picture rather than a transparent one.
            colour.rgbReserved = 255;
            bitmap.setPixelColor(static_cast<unsigned>(i), static_cast<unsigned>(j), &colour);
        }
    }
    bitmap.save(filename.c_str(), 0);
}

}  // namespace velkar::imageprocessing
