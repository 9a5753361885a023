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
        EXPECT_LE(std::abs(keypoint->intervalOffset), 0.5);
    }
    // Every keypoint yields at least one oriented keypoint, its largest bin.
    EXPECT_GE(unit.OrientedKeypoints().size(), unit.Keypoints().size());
    EXPECT_THROW(SiftProcessingUnit(image, 0, 3), std::invalid_argument);
}

// A 3 x 3 x 3 neighbourhood (below, current, above; one band, candidate at (1, 1)) whose
// quadratic has its extremum at the sub-level offset levelOffset and the column offset
// xOffset, built from its derivatives in (level, y, x): Hessian diagonal (-1, -2351, -2351) and
// a level-x cross term h, gradient g = -H (levelOffset, 0, xOffset). h is chosen so that every
// neighbour stays below the centre, 1.0: the candidate is a strict maximum. All values are
// scaled by 1/4000, which leaves the offsets alone.
struct Neighbourhood {
    Image below{3, 3, 1};
    Image current{3, 3, 1};
    Image above{3, 3, 1};
};

Neighbourhood QuadraticNeighbourhood(double levelOffset, double xOffset) {
    const double side = -2351.0;
    const double h = std::round(levelOffset / xOffset);
    const double gradientLevel = levelOffset - h * xOffset;
    const double gradientX = -side * xOffset - h * levelOffset;
    const double scale = 1.0 / 4000.0;
    const double low = -2000.0;
    Neighbourhood n;
    for (Image* image : {&n.below, &n.current, &n.above}) {
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 3; ++x) {
                (*image)(x, y, 0) = low;
            }
        }
    }
    n.current(1, 1, 0) = 0.0;
    n.current(2, 1, 0) = side / 2 + gradientX;
    n.current(0, 1, 0) = side / 2 - gradientX;
    n.current(1, 0, 0) = n.current(1, 2, 0) = side / 2;
    n.above(1, 1, 0) = -0.5 + gradientLevel;
    n.below(1, 1, 0) = -0.5 - gradientLevel;
    n.above(2, 1, 0) = n.below(0, 1, 0) = low + h;
    n.above(0, 1, 0) = n.below(2, 1, 0) = low - h;
    for (Image* image : {&n.below, &n.current, &n.above}) {
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 3; ++x) {
                (*image)(x, y, 0) = 1.0 + scale * (*image)(x, y, 0);
            }
        }
    }
    return n;
}

// The sub-level offset is bounded like the sub-pixel ones: beyond half a level the candidate
// is dropped. A near-singular neighbourhood otherwise gave an offset of 24 levels, a scale of
// 516 and a Gaussian orientation mask of 4641 x 4641 for one keypoint.
TEST(SiftProcessingUnitTest, CandidatesMoreThanHalfALevelAwayAreDropped) {
    const Image image(8, 8, 1);
    const SiftProcessingUnit unit(image, 1, 3);
    for (double levelOffset : {24.0, -24.0, 3.0, 0.6, -0.51, 0.49, -0.45, 0.3, 0.0}) {
        const Neighbourhood n = QuadraticNeighbourhood(levelOffset, 0.49);
        int below = 0;
        for (const Image* image : {&n.below, &n.current, &n.above}) {
            for (int y = 0; y < 3; ++y) {
                for (int x = 0; x < 3; ++x) {
                    below += (*image)(x, y, 0) < n.current(1, 1, 0) ? 1 : 0;
                }
            }
        }
        ASSERT_EQ(below, 26) << levelOffset;

        SiftKeypoint keypoint(1, 1);
        keypoint.level = 1;
        const bool kept =
            unit.IsGoodLocalizationAndCurvature(0, 4, keypoint, n.below, n.current, n.above);
        EXPECT_EQ(kept, std::abs(levelOffset) <= 0.5)
            << levelOffset << " " << keypoint.intervalOffset;
        if (kept) {
            EXPECT_NEAR(keypoint.intervalOffset, levelOffset, 1e-9);
            EXPECT_EQ(keypoint.x, 1.0);
            EXPECT_EQ(keypoint.y, 1.0);
        }
    }
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
