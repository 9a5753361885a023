#include "velkar/imageprocessing/GaussianFilter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

#include "imageprocessing/FilterReference.h"

namespace {

using filtertest::Correlate;
using filtertest::RandomImage;
using velkar::imageprocessing::ConvolutionFilter;
using velkar::imageprocessing::GaussianFilter;
using velkar::imageprocessing::ImageMemory;

constexpr double kTwoPi = 2.0 * 3.141592653589793;

double ExpectedWeight(int sizeX, int sizeY, double sigma, int i, int j) {
    const double u = i - sizeX / 2;
    const double v = j - sizeY / 2;
    return std::exp(-(u * u + v * v) / (2.0 * sigma * sigma)) / (kTwoPi * sigma * sigma);
}

double MaskSum(const GaussianFilter& filter) {
    double sum = 0.0;
    for (double weight : filter.Mask()) {
        sum += weight;
    }
    return sum;
}

TEST(GaussianFilterTest, SizesAndWeights) {
    struct Case {
        int sizeX;
        int sizeY;
        double sigma;
        int expectedX;
        int expectedY;
    };
    const std::vector<Case> cases{{0, 0, 1.0, 5, 5},   {0, 0, 1.5, 9, 9}, {0, 0, 2.0, 11, 11},
                                  {0, 0, 0.5, 3, 3},   {3, 3, 0.5, 3, 3}, {7, 4, 1.2, 7, 4},
                                  {0, 0, 8.0, 47, 47}, {1, 1, 3.0, 1, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.sizeX << " x " << c.sizeY << ", sigma " << c.sigma);
        const GaussianFilter filter(c.sizeX, c.sizeY, c.sigma);
        ASSERT_EQ(filter.SizeX(), c.expectedX);
        ASSERT_EQ(filter.SizeY(), c.expectedY);
        EXPECT_EQ(filter.Sigma(), c.sigma);
        for (int i = 0; i < filter.SizeX(); ++i) {
            for (int j = 0; j < filter.SizeY(); ++j) {
                EXPECT_DOUBLE_EQ(filter.Value(i, j),
                                 ExpectedWeight(c.expectedX, c.expectedY, c.sigma, i, j));
            }
        }
    }
    const GaussianFilter unit(0, 0, 1.0);
    EXPECT_NEAR(unit.Value(2, 2), 0.159155, 1e-6);
    EXPECT_DOUBLE_EQ(unit.Value(0, 0), std::exp(-4.0) / kTwoPi);
    EXPECT_DOUBLE_EQ(unit.Value(4, 0), unit.Value(0, 0));
}

TEST(GaussianFilterTest, RejectsUnusableSettings) {
    for (double sigma : {0.0, -1.0, std::nan(""), std::numeric_limits<double>::infinity(), 1e300}) {
        EXPECT_THROW(GaussianFilter(0, 0, sigma), std::invalid_argument) << sigma;
    }
    EXPECT_THROW(GaussianFilter(-3, 3, 1.0), std::invalid_argument);
}

TEST(GaussianFilterTest, ConvolutionEqualsTheDirectSumOfItsMask) {
    struct Case {
        int sizeX;
        int sizeY;
        double sigma;
        int width;
        int height;
    };
    const std::vector<Case> cases{
        {0, 0, 1.0, 12, 10}, {0, 0, 1.5, 15, 20}, {5, 3, 0.8, 9, 9}, {0, 0, 2.0, 11, 30}};
    unsigned seed = 7;
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "sigma " << c.sigma << " on " << c.width << " x " << c.height);
        const GaussianFilter filter(c.sizeX, c.sizeY, c.sigma);
        ImageMemory<double> image = RandomImage(c.width, c.height, 3, seed++);
        const ImageMemory<double> expected =
            Correlate(image, filter.SizeX(), filter.SizeY(),
                      [&](int l, int m) { return filter.Value(l, m); });
        ConvolutionFilter::Convolve(image, filter);
        for (std::size_t i = 0; i < image.Size(); ++i) {
            ASSERT_NEAR(image.Data()[i], expected.Data()[i], 1e-13) << "value " << i;
        }
    }
}

TEST(GaussianFilterTest, ConstantImageIsScaledByTheMaskSumAwayFromTheBorder) {
    const GaussianFilter filter(0, 0, 1.0);
    const double sum = MaskSum(filter);
    EXPECT_LT(sum, 1.0);
    EXPECT_GT(sum, 0.95);
    ImageMemory<double> image(10, 8, 2);
    for (std::size_t i = 0; i < image.Size(); ++i) {
        image.Data()[i] = 0.5;
    }
    ConvolutionFilter::Convolve(image, filter);
    for (int x = 0; x < 10; ++x) {
        for (int y = 0; y < 8; ++y) {
            const bool interior = x >= 2 && x < 8 && y >= 2 && y < 6;
            for (int b = 0; b < 2; ++b) {
                if (interior) {
                    EXPECT_NEAR(image(x, y, b), 0.5 * sum, 1e-14);
                } else {
                    EXPECT_EQ(image(x, y, b), 0.5);
                }
            }
        }
    }

    // An image no larger than the mask is all border.
    ImageMemory<double> small = RandomImage(4, 4, 3, 3);
    const ImageMemory<double> before = small;
    ConvolutionFilter::Convolve(small, filter);
    for (std::size_t i = 0; i < small.Size(); ++i) {
        EXPECT_EQ(small.Data()[i], before.Data()[i]);
    }
}

}  // namespace
