#include "velkar/featureextraction/SiftProcessingUnit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "featureextraction/SiftImages.h"
#include "velkar/imageprocessing/ConvolutionFilter.h"
#include "velkar/imageprocessing/GaussianFilter.h"

namespace velkar::featureextraction {
namespace {

using Image = SiftProcessingUnit::Image;
using imageprocessing::ConvolutionFilter;
using imageprocessing::GaussianFilter;

// Doubling from its rules: even positions copy, odd ones average their right or lower
// neighbour (or copy at the edge), odd-odd ones average the targets above and to the left.
Image ReferenceDoubled(const Image& source) {
    Image target(2 * source.Width(), 2 * source.Height(), source.Bands());
    for (int y = 0; y < target.Height(); ++y) {
        for (int x = 0; x < target.Width(); ++x) {
            for (int b = 0; b < source.Bands(); ++b) {
                const int sx = x / 2, sy = y / 2;
                const int nx = std::min(sx + 1, source.Width() - 1);
                const int ny = std::min(sy + 1, source.Height() - 1);
                if (x % 2 == 1 && y % 2 == 1) {
                    target(x, y, b) = (target(x, y - 1, b) + target(x - 1, y, b)) / 2;
                } else if (x % 2 == 1) {
                    target(x, y, b) = (source(sx, sy, b) + source(nx, sy, b)) / 2;
                } else if (y % 2 == 1) {
                    target(x, y, b) = (source(sx, sy, b) + source(sx, ny, b)) / 2;
                } else {
                    target(x, y, b) = source(sx, sy, b);
                }
            }
        }
    }
    return target;
}

TEST(SiftProcessingUnitTest, ScaleSpaceLayoutAndKeypoints) {
    const Image image(*testing::BlobImage(40, 40, {{12.0, 14.0, 2.5}, {27.0, 25.0, 3.5}}));
    SiftProcessingUnit unit(image, 4, 3);
    unit.GenerateOctavesAndIntervals();

    // Level 0: smoothed, doubled, smoothed again.
    Image expected = image;
    ConvolutionFilter::Convolve(expected, GaussianFilter(0, 0, 0.5));
    expected = ReferenceDoubled(expected);
    ConvolutionFilter::Convolve(expected, GaussianFilter(0, 0, std::sqrt(1.56)));
    ASSERT_EQ(unit.Level(0, 0).Size(), expected.Size());
    for (std::size_t i = 0; i < expected.Size(); ++i) {
        ASSERT_DOUBLE_EQ(unit.Level(0, 0).Data()[i], expected.Data()[i]) << i;
    }
    const int sides[] = {80, 40, 20, 10};
    for (int o = 0; o < 4; ++o) {
        for (int l = 0; l < 6; ++l) {
            EXPECT_EQ(unit.Level(o, l).Width(), sides[o]);
            EXPECT_EQ(unit.Level(o, l).Height(), sides[o]);
            EXPECT_NEAR(unit.Sigma(o, l), 1.6 * std::pow(2.0, l / 3.0), 1e-12);
        }
        // The next octave starts from every other pixel of the level of sigma 3.2.
        for (int y = 0; o < 3 && y < sides[o + 1]; ++y) {
            for (int x = 0; x < sides[o + 1]; ++x) {
                ASSERT_EQ(unit.Level(o + 1, 0)(x, y, 2), unit.Level(o, 3)(2 * x, 2 * y, 2));
            }
        }
    }

    unit.FindExtrema();
    unit.CalculateMagnitudesAndOrientations();
    unit.FindKeypoints();
    ASSERT_FALSE(unit.Keypoints().empty());
    for (const auto& keypoint : unit.Keypoints()) {
        EXPECT_TRUE(keypoint->level >= 1 && keypoint->level <= 3) << keypoint->level;
        EXPECT_DOUBLE_EQ(keypoint->scale,
                         1.6 * std::pow(2.0, (keypoint->level + keypoint->intervalOffset) / 3.0));
    }
    // Every keypoint yields at least one oriented keypoint, its largest bin.
    EXPECT_GE(unit.OrientedKeypoints().size(), unit.Keypoints().size());
    EXPECT_THROW(SiftProcessingUnit(image, 0, 3), std::invalid_argument);
}

TEST(SiftProcessingUnitTest, DescriptorNormalisationCapsAtPointTwo) {
    auto normalise = [](std::vector<double> values) {
        for (int pass = 0; pass < 2; ++pass) {
            double norm = 0.0;
            for (double value : values) {
                norm += value * value;
            }
            for (double& value : values) {
                value =
                    pass == 0 ? std::min(value / std::sqrt(norm), 0.2) : value / std::sqrt(norm);
            }
        }
        return values;
    };
    std::vector<double> flat(128, 1.0), peaked(128, 0.01), ramp;
    peaked[5] = 3.0;
    peaked[77] = 1.0;
    for (int n = 0; n < 128; ++n) {
        ramp.push_back(n * n * 0.001);
    }
    for (const auto& values : {flat, peaked, ramp}) {
        std::vector<double> normalised = values;
        ASSERT_TRUE(SiftProcessingUnit::NormalizeDescriptor(normalised));
        const auto expected = normalise(values);
        for (std::size_t n = 0; n < values.size(); ++n) {
            EXPECT_NEAR(normalised[n], expected[n], 1e-15);
        }
    }
    // Both large values of the peaked vector were capped to the same value.
    SiftProcessingUnit::NormalizeDescriptor(peaked);
    EXPECT_DOUBLE_EQ(peaked[5], peaked[77]);
    std::vector<double> zeros(128, 0.0);
    EXPECT_FALSE(SiftProcessingUnit::NormalizeDescriptor(zeros));
}

}  // namespace
}  // namespace velkar::featureextraction
