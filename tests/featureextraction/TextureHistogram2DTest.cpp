#include "velkar/featureextraction/TextureHistogram2D.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "featureextraction/DenseTexture.h"
#include "featureextraction/TestImages.h"

namespace velkar::featureextraction {
namespace {

using testing::MakeImage;
using testing::Rgb;

// Red in a narrow range (repeated cells, diagonal ones too), green over the full range, blue a
// 0/255 checkerboard.
std::shared_ptr<imageprocessing::ImageFileSystem> TexturedImage(int width, int height,
                                                                unsigned seed) {
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> narrow(100, 104);
    std::uniform_int_distribution<int> full(0, 255);
    std::vector<Rgb> pixels(static_cast<std::size_t>(width * height));
    for (int index = 0; index < width * height; ++index) {
        const int x = index % width;
        const int y = index / width;
        pixels[index] = {narrow(generator), full(generator), (x + y) % 2 * 255};
    }
    return MakeImage(width, height, [&](int x, int y) { return pixels[y * width + x]; });
}

TEST(TextureHistogram2DTest, ReusedHistogramMatchesAFreshDenseCountForEveryWindow) {
    const auto image = TexturedImage(23, 19, 5);
    const std::vector<int> dx{0, 1, -2, 4};
    const std::vector<int> dy{0, 0, 3, -1};
    const TextureHistogram2D texture(image, 6, dx, dy, 256);
    testing::DenseTexture<long double> dense(image, 6, dx, dy);
    std::unique_ptr<TextureHistogram2D::Histogram> histogram;
    texture.InitHistogram(histogram);
    // Inside, across each image edge, in a corner, and wholly outside (no pair at all); one
    // histogram serves them all in turn, so leftovers of an earlier window would show.
    const std::vector<std::pair<int, int>> origins{{3, 4},  {-2, 5}, {17, 16}, {20, 2},
                                                   {8, -3}, {0, 0},  {40, 40}, {10, 9}};
    for (const auto& [x, y] : origins) {
        texture.Calculate(x, y, *histogram);
        dense.Calculate(x, y);
        for (int k = 0; k < 4; ++k) {
            for (int band = 0; band < 3; ++band) {
                int mismatches = 0;
                std::set<std::uint32_t> occupied;
                for (int a = 0; a < 256; ++a) {
                    for (int c = 0; c < 256; ++c) {
                        const double expected = dense.Cell(k, band, a, c);
                        mismatches += histogram->Cell(k, band, a, c) != expected;
                        if (a <= c && expected != 0.0) {
                            occupied.insert(static_cast<std::uint32_t>(a * 256 + c));
                        }
                    }
                }
                const auto& listed = histogram->OccupiedCells(k, band);
                EXPECT_EQ(mismatches, 0) << "window (" << x << ", " << y << ") k " << k;
                EXPECT_EQ(listed.size(), occupied.size()) << "window (" << x << ", " << y << ")";
                EXPECT_EQ(std::set<std::uint32_t>(listed.begin(), listed.end()), occupied);
            }
        }
    }
    EXPECT_THROW((void)histogram->Cell(4, 0, 0, 0), std::out_of_range);
    EXPECT_THROW((void)histogram->Cell(0, 0, 256, 0), std::out_of_range);

    const TextureHistogram2D single(image, 6, {1}, {0}, 256);
    EXPECT_THROW(single.Calculate(0, 0, *histogram), std::invalid_argument);
    texture.ReleaseHistogram(histogram);
    EXPECT_EQ(histogram, nullptr);
    EXPECT_NO_THROW(texture.ReleaseHistogram(histogram));
}

TEST(TextureHistogram2DTest, RejectsSettingsThatCannotPairPixels) {
    struct Case {
        int windowSize;
        std::vector<int> dx;
        std::vector<int> dy;
        int levels;
        std::vector<std::string> named;  // pieces the message must hold
    };
    const std::vector<Case> cases{
        {0, {0}, {0}, 256, {"window size", "0"}},
        {8, {}, {}, 256, {"x displacements", "empty"}},
        {8, {1, 2}, {0}, 256, {"y displacements", "1", "2"}},
        {8, {8}, {0}, 256, {"(8, 0)", "size 8"}},
        {8, {1, 0}, {0, -8}, 256, {"(0, -8)", "size 8"}},
        {8, {INT_MIN}, {0}, 256, {std::to_string(INT_MIN), "size 8"}},
        {8, {1}, {0}, 255, {"256", "255"}},
    };
    const auto image = TexturedImage(4, 4, 1);
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
