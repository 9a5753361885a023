#include "velkar/imageprocessing/ImageMemory.h"

#include <cmath>

namespace velkar::imageprocessing {

namespace {

// The low byte of the integer part of 255 * value, as a conversion of the real to an integer
// would leave it. Computed in floating point so that values beyond the range of int wrap
// instead of being undefined; NaN and infinities give 0.
unsigned char LowByteOfScaled(double value) {
    const double whole = std::trunc(255.0 * value);
    if (!std::isfinite(whole)) {
        return 0;
    }
    double remainder = std::fmod(whole, 256.0);
    if (remainder < 0) {
        remainder += 256.0;
    }
    return static_cast<unsigned char>(remainder);
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
    ImageFileSystem bitmap(filename, image.Width(), image.Height(), 4);
    for (int j = 0; j < image.Height(); ++j) {
        // Row j of the memory becomes row height - 1 - j from the top, the bottom row for j = 0.
        const int row = image.Height() - 1 - j;
        for (int i = 0; i < image.Width(); ++i) {
            for (int b = 0; b < 3; ++b) {
                bitmap.SetPixel(i, row, b, LowByteOfScaled(image(i, j, b)));
            }
            // Opaque, so that viewers show the picture rather than a transparent one.
            bitmap.SetPixel(i, row, 3, 255);
        }
    }
    bitmap.Save();
}

}  // namespace velkar::imageprocessing
