#include "velkar/featureextraction/TextureHistogram2D.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "featureextraction/DenseTexture.h"
#include "featureextraction/TestImages.h"

namespace velkar::featureextraction {
namespace {

TEST(TextureHistogram2DTest, ReusedHistogramMatchesAFreshDenseCountForEveryWindow) {
    // Red in a narrow range (repeated and diagonal cells), green over the full range.
    std::mt19937 generator(5);
    std::vector<testing::Rgb> pixels(23 * 19);
    for (auto& pixel : pixels) {
        pixel = {static_cast<int>(100 + generator() % 5), static_cast<int>(generator() % 256), 9};
    }
    const auto image = testing::MakeImage(23, 19, [&](int x, int y) { return pixels[y * 23 + x]; });
    const std::vector<int> dx{0, 1, -2, 4}, dy{0, 0, 3, -1};
    const TextureHistogram2D texture(image, 6, dx, dy, 256);
    testing::DenseTexture<long double> dense(image, 6, dx, dy);
    std::unique_ptr<TextureHistogram2D::Histogram> histogram;
    texture.InitHistogram(histogram);
    // Inside, across each image edge, and wholly outside (no pair); one histogram serves them
    // all in turn, so leftovers of an earlier window would show.
    for (const auto& [x, y] : std::vector<std::pair<int, int>>{
             {3, 4}, {-2, 5}, {17, 16}, {20, 2}, {8, -3}, {40, 40}, {10, 9}}) {
        texture.Calculate(x, y, *histogram);
        dense.Calculate(x, y);
        for (int k = 0; k < 4; ++k) {
            for (int band = 0; band < 3; ++band) {
                int mismatches = 0;
                for (int a = 0; a < 256; ++a) {
                    for (int c = 0; c < 256; ++c) {
                        mismatches += histogram->Cell(k, band, a, c) != dense.Cell(k, band, a, c);
                    }
                }
                EXPECT_EQ(mismatches, 0) << "window (" << x << ", " << y << ") k " << k;
            }
        }
    }
    EXPECT_THROW((void)histogram->Cell(0, 0, 256, 0), std::out_of_range);
    EXPECT_THROW(TextureHistogram2D(image, 6, {1}, {0}, 256).Calculate(0, 0, *histogram),
                 std::invalid_argument);
    texture.ReleaseHistogram(histogram);
    EXPECT_EQ(histogram, nullptr);
}

TEST(TextureHistogram2DTest, RejectsSettingsThatCannotPairPixels) {
    struct Case {
        int windowSize;
        std::vector<int> dx, dy;
        int levels;
        std::vector<std::string> named;  // pieces the message must hold
    };
    const std::vector<Case> cases{
        {0, {0}, {0}, 256, {"'windowSize': 0", "at least 1"}},
        {8, {}, {}, 256, {"'dx': an empty list"}},
        {8, {1}, {}, 256, {"'dy': an empty list"}},
        {8, {1, 2}, {0}, 256, {"'dy': 0", "as many items as dx, which has 2"}},
        {8, {8}, {0}, 256, {"'dx': 8", "from -7 to 7"}},
        {8, {1, 0}, {0, -8}, 256, {"'dy': -8", "from -7 to 7"}},
        {8, {INT_MIN}, {0}, 256, {"'dx': " + std::to_string(INT_MIN), "from -7 to 7"}},
        {8, {1}, {0}, 255, {"256", "255"}},
    };
    const auto image = testing::MakeImage(4, 4, [](int, int) { return testing::Rgb{1, 2, 3}; });
    for (const Case& c : cases) {
        try {
            TextureHistogram2D(image, c.windowSize, c.dx, c.dy, c.levels);
            ADD_FAILURE() << "accepted window " << c.windowSize;
        } catch (const std::invalid_argument& error) {
            for (const std::string& piece : c.named) {
                EXPECT_NE(std::string(error.what()).find(piece), std::string::npos)
                    << error.what() << " lacks " << piece;
            }
        }
    }
    // The largest steps a window can hold, and a y list longer than needed.
    EXPECT_NO_THROW(TextureHistogram2D(image, 8, {7, -7}, {-7, 7, 100}, 256));
}

}  // namespace
}  // namespace velkar::featureextraction
