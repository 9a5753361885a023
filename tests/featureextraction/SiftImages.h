#pragma once

// Images for the keypoint tests: bright Gaussian blobs on a dark ground.

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "featureextraction/TestImages.h"

namespace velkar::testing {

struct Blob {
    double x;
    double y;
    double sigma;
};

inline int BlobLevel(const std::vector<Blob>& blobs, int x, int y) {
    double value = 20.0;
    for (const Blob& blob : blobs) {
        const double dx = x - blob.x;
        const double dy = y - blob.y;
        value += 220.0 * std::exp(-(dx * dx + dy * dy) / (2.0 * blob.sigma * blob.sigma));
    }
    return static_cast<int>(std::min(value, 255.0));
}

// Grey blobs, or blobs in one colour channel only.
inline std::shared_ptr<imageprocessing::ImageFileSystem> BlobImage(int width, int height,
                                                                   const std::vector<Blob>& blobs,
                                                                   int onlyBand = -1) {
    return MakeImage(width, height, [&](int x, int y) {
        const int level = BlobLevel(blobs, x, y);
        if (onlyBand < 0) {
            return Rgb{level, level, level};
        }
        return Rgb{onlyBand == 0 ? level : 20, onlyBand == 1 ? level : 20,
                   onlyBand == 2 ? level : 20};
    });
}

}  // namespace velkar::testing
