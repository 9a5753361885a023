#include "velkar/imageprocessing/ConvolutionFilter.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "imageprocessing/FilterReference.h"

namespace {

using filtertest::Correlate;
using filtertest::RandomImage;
using velkar::imageprocessing::ConvolutionFilter;
using velkar::imageprocessing::ImageMemory;

void ExpectEqualImages(const ImageMemory<double>& actual, const ImageMemory<double>& expected,
                       double tolerance) {
    ASSERT_EQ(actual.Width(), expected.Width());
    ASSERT_EQ(actual.Height(), expected.Height());
    ASSERT_EQ(actual.Bands(), expected.Bands());
    for (std::size_t i = 0; i < actual.Size(); ++i) {
        ASSERT_NEAR(actual.Data()[i], expected.Data()[i], tolerance) << "value " << i;
    }
}

TEST(ConvolutionFilterTest, GeneralMasksEqualTheDirectSum) {
    struct Case {
        int sizeX;
        int sizeY;
        int width;
        int height;
        int bands;
    };
    // Odd, even, flat and larger-than-image masks on images of one and three bands.
    const std::vector<Case> cases{{3, 3, 9, 7, 3}, {2, 4, 8, 9, 1}, {5, 1, 7, 4, 2},
                                  {1, 1, 3, 3, 3}, {4, 3, 3, 8, 1}, {9, 9, 6, 6, 3}};
    unsigned seed = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.sizeX << " x " << c.sizeY << " on " << c.width << " x " << c.height);
        const ImageMemory<double> weights = RandomImage(c.sizeX, c.sizeY, 1, seed++);
        auto weight = [&](int l, int m) { return weights(l, m, 0); };
        std::vector<double> rows;
        for (int l = 0; l < c.sizeX; ++l) {
            for (int m = 0; m < c.sizeY; ++m) {
                rows.push_back(weight(l, m));
            }
        }
        const ConvolutionFilter filter(c.sizeX, c.sizeY, rows);
        ImageMemory<double> source = RandomImage(c.width, c.height, c.bands, seed++);
        const ImageMemory<double> original = source;

        ImageMemory<double> target(c.width, c.height, c.bands);
        ConvolutionFilter::Convolve(source, filter, &target);
        ExpectEqualImages(source, original, 0.0);
        ExpectEqualImages(target, Correlate(original, c.sizeX, c.sizeY, weight), 1e-12);

        ConvolutionFilter::Convolve(source, filter);
        ExpectEqualImages(source, target, 0.0);
    }
}

TEST(ConvolutionFilterTest, RowsRunAlongXAndEntriesAlongY) {
    // A single weight at row 2, entry 1 of a 3 x 3 mask reads the pixel one column to the right.
    std::vector<double> weights(9, 0.0);
    weights[2 * 3 + 1] = 1.0;
    const ConvolutionFilter filter(3, 3, weights);
    ImageMemory<double> image(5, 4, 1);
    for (int x = 0; x < 5; ++x) {
        for (int y = 0; y < 4; ++y) {
            image(x, y, 0) = 10.0 * x + y;
        }
    }
    ConvolutionFilter::Convolve(image, filter, &image);
    for (int x = 0; x < 5; ++x) {
        for (int y = 0; y < 4; ++y) {
            const bool inside = x >= 1 && x <= 3 && y >= 1 && y <= 2;
            EXPECT_EQ(image(x, y, 0), 10.0 * (inside ? x + 1 : x) + y) << x << ", " << y;
        }
    }
}

TEST(ConvolutionFilterTest, RejectsInconsistentSizes) {
    EXPECT_THROW(ConvolutionFilter(2, 2, {1.0, 2.0, 3.0}), std::invalid_argument);
    EXPECT_THROW(ConvolutionFilter(-1, 2, {}), std::invalid_argument);
    const ConvolutionFilter filter(1, 1, {1.0});
    ImageMemory<double> source(4, 4, 3);
    for (ImageMemory<double> target :
         {ImageMemory<double>(4, 4, 1), ImageMemory<double>(3, 4, 3), ImageMemory<double>()}) {
        EXPECT_THROW(ConvolutionFilter::Convolve(source, filter, &target), std::invalid_argument);
    }
}

}  // namespace
