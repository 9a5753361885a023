#include "velkar/imageprocessing/ConvolutionFilter.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "imageprocessing/FilterReference.h"

namespace {

using velkar::imageprocessing::ConvolutionFilter;
using velkar::imageprocessing::ImageMemory;

TEST(ConvolutionFilterTest, GeneralMasksEqualTheDirectSum) {
    // {sizeX, sizeY, width, height, bands}: odd, even, flat, larger-than-image masks.
    const std::vector<std::vector<int>> cases{{3, 3, 9, 7, 3}, {2, 4, 8, 9, 1}, {5, 1, 7, 4, 2},
                                              {1, 1, 3, 3, 3}, {4, 3, 3, 8, 1}, {9, 9, 6, 6, 3}};
    unsigned seed = 1;
    for (const auto& c : cases) {
        const ImageMemory<double> weights = filtertest::RandomImage(c[0], c[1], 1, seed++);
        auto weight = [&](int l, int m) { return weights(l, m, 0); };
        std::vector<double> rows;
        for (int l = 0; l < c[0]; ++l) {
            for (int m = 0; m < c[1]; ++m) {
                rows.push_back(weight(l, m));
            }
        }
        const ConvolutionFilter filter(c[0], c[1], rows);
        ImageMemory<double> source = filtertest::RandomImage(c[2], c[3], c[4], seed++);
        const ImageMemory<double> original = source;
        const ImageMemory<double> expected = filtertest::Correlate(original, c[0], c[1], weight);

        ImageMemory<double> target(c[2], c[3], c[4]);
        ConvolutionFilter::Convolve(source, filter, &target);
        ConvolutionFilter::Convolve(source, filter);  // in place
        for (std::size_t i = 0; i < expected.Size(); ++i) {
            ASSERT_NEAR(target.Data()[i], expected.Data()[i], 1e-12) << c[0] << "x" << c[1];
            ASSERT_EQ(source.Data()[i], target.Data()[i]);
        }
    }
}

TEST(ConvolutionFilterTest, RejectsInconsistentSizes) {
    EXPECT_THROW(ConvolutionFilter(2, 2, {1.0, 2.0, 3.0}), std::invalid_argument);
    EXPECT_THROW(ConvolutionFilter(-1, 2, {}), std::invalid_argument);
    const ConvolutionFilter filter(1, 1, {1.0});
    ImageMemory<double> source(4, 4, 3);
    for (ImageMemory<double> target :
         {ImageMemory<double>(4, 4, 1), ImageMemory<double>(3, 4, 3)}) {
        EXPECT_THROW(ConvolutionFilter::Convolve(source, filter, &target), std::invalid_argument);
    }
}

}  // namespace
