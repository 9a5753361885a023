#include "velkar/imageprocessing/GaussianFilter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

#include "imageprocessing/FilterReference.h"

namespace {

using velkar::imageprocessing::ConvolutionFilter;
using velkar::imageprocessing::GaussianFilter;
using velkar::imageprocessing::ImageMemory;

constexpr double kTwoPi = 2.0 * 3.141592653589793;

TEST(GaussianFilterTest, SizesAndWeights) {
    struct Case {
        int sizeX, sizeY;
        double sigma;
        int expectedX, expectedY;
    };
    for (const Case& c : std::vector<Case>{{0, 0, 1.0, 5, 5},
                                           {0, 0, 1.5, 9, 9},
                                           {0, 0, 2.0, 11, 11},
                                           {0, 0, 0.5, 3, 3},
                                           {3, 3, 0.5, 3, 3},
                                           {7, 4, 1.2, 7, 4},
                                           {0, 0, 8.0, 47, 47}}) {
        const GaussianFilter filter(c.sizeX, c.sizeY, c.sigma);
        ASSERT_EQ(filter.SizeX(), c.expectedX) << c.sigma;
        ASSERT_EQ(filter.SizeY(), c.expectedY) << c.sigma;
        for (int i = 0; i < filter.SizeX(); ++i) {
            for (int j = 0; j < filter.SizeY(); ++j) {
                const double u = i - c.expectedX / 2;
                const double v = j - c.expectedY / 2;
                EXPECT_DOUBLE_EQ(filter.Value(i, j),
                                 std::exp(-(u * u + v * v) / (2.0 * c.sigma * c.sigma)) /
                                     (kTwoPi * c.sigma * c.sigma));
            }
        }
    }
    const GaussianFilter unit(0, 0, 1.0);
    EXPECT_NEAR(unit.Value(2, 2), 0.159155, 1e-6);
    EXPECT_DOUBLE_EQ(unit.Value(0, 0), std::exp(-4.0) / kTwoPi);

    for (double sigma : {0.0, -1.0, std::nan(""), std::numeric_limits<double>::infinity(), 1e300}) {
        EXPECT_THROW(GaussianFilter(0, 0, sigma), std::invalid_argument) << sigma;
    }
    EXPECT_THROW(GaussianFilter(-3, 3, 1.0), std::invalid_argument);
}

TEST(GaussianFilterTest, ConvolutionEqualsTheDirectSumOfItsMask) {
    // {sizeX, sizeY, sigma * 10, width, height}
    const std::vector<std::vector<int>> cases{{0, 0, 10, 12, 10},
                                              {0, 0, 15, 15, 20},
                                              {5, 3, 8, 9, 9},
                                              {4, 6, 10, 9, 9},
                                              {0, 0, 20, 11, 30}};
    unsigned seed = 7;
    for (const auto& c : cases) {
        const GaussianFilter filter(c[0], c[1], c[2] / 10.0);
        ImageMemory<double> image = filtertest::RandomImage(c[3], c[4], 3, seed++);
        const ImageMemory<double> expected =
            filtertest::Correlate(image, filter.SizeX(), filter.SizeY(),
                                  [&](int l, int m) { return filter.Value(l, m); });
        ConvolutionFilter::Convolve(image, filter);
        for (std::size_t i = 0; i < image.Size(); ++i) {
            ASSERT_NEAR(image.Data()[i], expected.Data()[i], 1e-13) << "sigma " << c[2] / 10.0;
        }
    }
}

TEST(GaussianFilterTest, ConstantImageIsScaledByTheMaskSumAwayFromTheBorder) {
    const GaussianFilter filter(0, 0, 1.0);
    double sum = 0.0;
    for (double weight : filter.Mask()) {
        sum += weight;
    }
    EXPECT_GT(sum, 0.95);
    EXPECT_LT(sum, 1.0);
    ImageMemory<double> image(10, 8, 2);
    std::fill(image.Data(), image.Data() + image.Size(), 0.5);
    ConvolutionFilter::Convolve(image, filter);
    for (int x = 0; x < 10; ++x) {
        for (int y = 0; y < 8; ++y) {
            const bool interior = x >= 2 && x < 8 && y >= 2 && y < 6;
            EXPECT_NEAR(image(x, y, 1), interior ? 0.5 * sum : 0.5, interior ? 1e-14 : 0.0);
        }
    }
    // An image no larger than the mask is all border.
    ImageMemory<double> small = filtertest::RandomImage(4, 4, 3, 3);
    const ImageMemory<double> before = small;
    ConvolutionFilter::Convolve(small, filter);
    EXPECT_TRUE(std::equal(small.Data(), small.Data() + small.Size(), before.Data()));
}

}  // namespace
