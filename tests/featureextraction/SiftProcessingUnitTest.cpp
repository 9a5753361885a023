#include "velkar/featureextraction/SiftProcessingUnit.h"

#include <gtest/gtest.h>

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

Image BlobMemory(int width, int height) {
    const auto file = testing::BlobImage(width, height, {{12.0, 14.0, 2.5}, {27.0, 25.0, 3.5}});
    return Image(*file);
}

// Doubling written out from its rules, one position at a time.
Image ReferenceDoubled(const Image& source) {
    Image target(2 * source.Width(), 2 * source.Height(), source.Bands());
    for (int y = 0; y < target.Height(); ++y) {
        for (int x = 0; x < target.Width(); ++x) {
            for (int b = 0; b < source.Bands(); ++b) {
                const int sx = x / 2;
                const int sy = y / 2;
                if (x % 2 == 0 && y % 2 == 0) {
                    target(x, y, b) = source(sx, sy, b);
                } else if (x % 2 == 1 && y % 2 == 0) {
                    target(x, y, b) = sx + 1 < source.Width()
                                          ? (source(sx, sy, b) + source(sx + 1, sy, b)) / 2
                                          : source(sx, sy, b);
                } else if (x % 2 == 0) {
                    target(x, y, b) = sy + 1 < source.Height()
                                          ? (source(sx, sy, b) + source(sx, sy + 1, b)) / 2
                                          : source(sx, sy, b);
                } else {
                    target(x, y, b) = (target(x, y - 1, b) + target(x - 1, y, b)) / 2;
                }
            }
        }
    }
    return target;
}

TEST(SiftProcessingUnitTest, ScaleSpaceLayout) {
    const Image image = BlobMemory(40, 40);
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
            EXPECT_EQ(unit.Level(o, l).Width(), sides[o]) << o << " " << l;
            EXPECT_EQ(unit.Level(o, l).Height(), sides[o]) << o << " " << l;
            EXPECT_NEAR(unit.Sigma(o, l), 1.6 * std::pow(2.0, l / 3.0), 1e-12);
        }
        // The next octave starts from every other pixel of the level of sigma 3.2.
        if (o + 1 < 4) {
            const Image& next = unit.Level(o + 1, 0);
            const Image& source = unit.Level(o, 3);
            for (int y = 0; y < next.Height(); ++y) {
                for (int x = 0; x < next.Width(); ++x) {
                    ASSERT_EQ(next(x, y, 2), source(2 * x, 2 * y, 2));
                }
            }
        }
    }
    EXPECT_THROW(SiftProcessingUnit(image, 0, 3), std::invalid_argument);
}

TEST(SiftProcessingUnitTest, KeypointsAndOrientationsStayInRange) {
    SiftProcessingUnit unit(BlobMemory(40, 40), 4, 3);
    unit.GenerateOctavesAndIntervals();
    unit.FindExtrema();
    unit.CalculateMagnitudesAndOrientations();
    unit.FindKeypoints();
    unit.ExtractKeypointDescriptors();
    ASSERT_FALSE(unit.Keypoints().empty());
    for (const auto& keypoint : unit.Keypoints()) {
        EXPECT_GE(keypoint->level, 1);
        EXPECT_LE(keypoint->level, 3);
        EXPECT_NEAR(keypoint->scale,
                    1.6 * std::pow(2.0, (keypoint->level + keypoint->intervalOffset) / 3.0), 1e-12);
        EXPECT_GE(std::abs(keypoint->contrast), 0.0);
    }
    // Every keypoint yields at least one oriented keypoint, in [-pi, pi).
    ASSERT_GE(unit.OrientedKeypoints().size(), unit.Keypoints().size());
    for (const auto& oriented : unit.OrientedKeypoints()) {
        EXPECT_GE(oriented->orientation, -3.141592653589793);
        EXPECT_LT(oriented->orientation, 3.141592653589793);
        EXPECT_GT(oriented->magnitude, 0.0);
    }
    EXPECT_EQ(unit.Descriptors().size(), unit.OrientedKeypoints().size());
}

TEST(SiftProcessingUnitTest, DescriptorNormalisationCapsAtATenthOfTheNorm) {
    auto reference = [](std::vector<double> values) {
        double norm = 0.0;
        for (double value : values) {
            norm += value * value;
        }
        norm = std::sqrt(norm);
        for (double& value : values) {
            value = std::min(value / norm, 0.2);
        }
        norm = 0.0;
        for (double value : values) {
            norm += value * value;
        }
        norm = std::sqrt(norm);
        for (double& value : values) {
            value /= norm;
        }
        return values;
    };
    std::vector<std::vector<double>> cases{std::vector<double>(128, 1.0)};
    std::vector<double> peaked(128, 0.01);
    peaked[5] = 3.0;
    peaked[77] = 1.0;
    cases.push_back(peaked);
    std::vector<double> ramp;
    for (int n = 0; n < 128; ++n) {
        ramp.push_back(n * n * 0.001);
    }
    cases.push_back(ramp);
    for (const auto& values : cases) {
        std::vector<double> normalised = values;
        ASSERT_TRUE(SiftProcessingUnit::NormalizeDescriptor(normalised));
        const auto expected = reference(values);
        for (std::size_t n = 0; n < values.size(); ++n) {
            EXPECT_NEAR(normalised[n], expected[n], 1e-15);
        }
    }
    // The dominant value was capped: after the final division it no longer dominates.
    std::vector<double> capped = peaked;
    SiftProcessingUnit::NormalizeDescriptor(capped);
    EXPECT_NEAR(capped[5], capped[77], 1e-15);

    std::vector<double> zeros(128, 0.0);
    EXPECT_FALSE(SiftProcessingUnit::NormalizeDescriptor(zeros));
    EXPECT_EQ(zeros, std::vector<double>(128, 0.0));
}

}  // namespace
}  // namespace velkar::featureextraction
