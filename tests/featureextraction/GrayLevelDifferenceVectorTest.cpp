#include "velkar/featureextraction/GrayLevelDifferenceVector.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <vector>

#include "featureextraction/DenseTexture.h"
#include "featureextraction/TestImages.h"

namespace velkar::featureextraction {
namespace {

using testing::Extract;
using testing::MakeRectangle;

TEST(GrayLevelDifferenceVectorTest, UniformWindowHasOnlyTheZeroDifference) {
    const GrayLevelDifferenceVector two(4, {1, 0}, {0, 1});
    EXPECT_EQ(two.Name(), "Gray Level Difference Vector");
    EXPECT_EQ(two.FileExtension(), "glo");
    EXPECT_EQ(two.FeatureCount(), 3 * 512);
    EXPECT_THROW(GrayLevelDifferenceVector(4, {0, 1}, {4, 0}), std::invalid_argument);

    const auto image = testing::MakeImage(5, 5, [](int, int) { return testing::Rgb{7, 0, 200}; });
    const auto result =
        Extract(GrayLevelDifferenceVector(4, {1}, {0}), image, {MakeRectangle(0, 0, 4, 4)});
    ASSERT_EQ(result.size(), 1u);
    std::vector<double> expected(256, 0.0);
    expected[0] = 1.0 / 3;
    for (const auto& band : result[0]->Features()) {
        EXPECT_EQ(band, expected);
    }
}

TEST(GrayLevelDifferenceVectorTest, TwoDisplacementsFoldTheDenseMatricesInOrder) {
    std::mt19937 generator(21);
    std::vector<testing::Rgb> pixels(30 * 20);
    for (auto& pixel : pixels) {
        pixel = {static_cast<int>(generator() % 256), static_cast<int>(60 + generator() % 7),
                 static_cast<int>(generator() % 4 * 64)};
    }
    const auto image = testing::MakeImage(30, 20, [&](int x, int y) { return pixels[y * 30 + x]; });
    // Origins x = 1, 7, 13, 19 and y = 2, 8: 8 windows, x-major.
    const auto rectangle = MakeRectangle(1, 2, 26, 15);
    const auto both = Extract(GrayLevelDifferenceVector(6, {1, -2}, {0, 3}), image, {rectangle});
    const auto mirrored = Extract(GrayLevelDifferenceVector(6, {-1}, {0}), image, {rectangle});
    const auto second = Extract(GrayLevelDifferenceVector(6, {-2}, {3}), image, {rectangle});
    testing::DenseTexture<long double> dense(image, 6, {1, -2}, {0, 3});
    ASSERT_EQ(both.size(), 8u);
    for (std::size_t index = 0; index < both.size(); ++index) {
        const auto expected = dense.Differences(1 + 6 * static_cast<int>(index / 2),
                                                2 + 6 * static_cast<int>(index % 2));
        for (int band = 0; band < 3; ++band) {
            const auto& values = both[index]->Features()[band];
            ASSERT_EQ(values.size(), 512u);
            for (int i = 0; i < 512; ++i) {
                EXPECT_NEAR(values[i], expected[band][i], 1e-15)
                    << index << " " << band << " " << i;
            }
            // Values 0-255 are displacement (1, 0), identical to (-1, 0); 256-511 the second.
            EXPECT_EQ(std::vector<double>(values.begin(), values.begin() + 256),
                      mirrored[index]->Features()[band]);
            EXPECT_EQ(std::vector<double>(values.begin() + 256, values.end()),
                      second[index]->Features()[band]);
        }
    }
}

}  // namespace
}  // namespace velkar::featureextraction
