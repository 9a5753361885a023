#pragma once

// Plain reference versions of the convolution for the filter tests: random images and the
// direct correlation sum written out from its definition.

#include <functional>
#include <random>

#include "velkar/imageprocessing/ImageMemory.h"

namespace filtertest {

using velkar::imageprocessing::ImageMemory;

inline ImageMemory<double> RandomImage(int width, int height, int bands, unsigned seed) {
    ImageMemory<double> image(width, height, bands);
    std::mt19937 generator(seed);
    std::uniform_real_distribution<double> value(0.0, 1.0);
    for (std::size_t i = 0; i < image.Size(); ++i) {
        image.Data()[i] = value(generator);
    }
    return image;
}

// target(x, y, b) = sum of source(x + l - sx/2, y + m - sy/2, b) * weight(l, m) where the mask
// fits, source(x, y, b) elsewhere.
inline ImageMemory<double> Correlate(const ImageMemory<double>& source, int sx, int sy,
                                     const std::function<double(int, int)>& weight) {
    ImageMemory<double> target = source;
    for (int x = 0; x < source.Width(); ++x) {
        for (int y = 0; y < source.Height(); ++y) {
            const bool inside = x >= sx / 2 && x < source.Width() - sx / 2 && y >= sy / 2 &&
                                y < source.Height() - sy / 2;
            if (!inside) {
                continue;
            }
            for (int b = 0; b < source.Bands(); ++b) {
                double sum = 0.0;
                for (int l = 0; l < sx; ++l) {
                    for (int m = 0; m < sy; ++m) {
                        sum += source(x + l - sx / 2, y + m - sy / 2, b) * weight(l, m);
                    }
                }
                target(x, y, b) = sum;
            }
        }
    }
    return target;
}

}  // namespace filtertest
