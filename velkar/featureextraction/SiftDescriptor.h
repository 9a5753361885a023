#pragma once

// The 128-value descriptor of an oriented scale-space keypoint, from the gradient magnitudes and
// orientations of its smoothed level: the 16 x 16 window around the keypoint, turned by its
// orientation, is sampled with a Gaussian weight of sigma 8, and every cell adds its weighted
// magnitude to the 8 orientation bins (relative to the keypoint's) of its 4 x 4 block; the 16
// blocks of 8 bins, block-column-major, are normalised, capped at 0.2 and normalised again.

#include <vector>

#include "velkar/featureextraction/SiftKeypoint.h"
#include "velkar/imageprocessing/ImageMemory.h"

namespace velkar::featureextraction {

class SiftDescriptor {
  public:
    using Image = imageprocessing::ImageMemory<double>;

    static constexpr int kLength = 128;
    static constexpr int kWindow = 16;

    // The descriptor of the keypoint from the magnitude and orientation images of its level;
    // false when its window holds no gradient.
    static bool Describe(const SiftKeypoint& keypoint, const Image& magnitude,
                         const Image& orientation, std::vector<double>& values);

    // Divides values by their Euclidean norm, caps every value at 0.2 and divides by the norm
    // again. Returns false, leaving values alone, when they are all 0.
    static bool Normalize(std::vector<double>& values);

  private:
    // The rotated 16 x 16 window of a keypoint: each cell's weighted gradient magnitude and its
    // direction relative to the keypoint's orientation (in 0 ... 2 pi).
    struct Samples {
        double weight[kWindow][kWindow];
        double relative[kWindow][kWindow];
    };
    static Samples SampleWindow(const SiftKeypoint& keypoint, const Image& magnitude,
                                const Image& orientation);
    // Adds every cell's weight to the 8-bin histogram of its 4 x 4 block.
    static void AddSamples(const Samples& samples, std::vector<double>& values);
};

}  // namespace velkar::featureextraction
