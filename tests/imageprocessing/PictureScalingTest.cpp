#include "velkar/imageprocessing/PictureScaling.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <stdexcept>
#include <vector>

namespace {

using velkar::imageprocessing::FitWithin;
using velkar::imageprocessing::IndexedImage;
using velkar::imageprocessing::ScaleDownByAreaAverage;
using velkar::imageprocessing::ScaleDownByMajority;

// The area average computed pixel by pixel: every input pixel weighted by the area it shares
// with the output pixel's rectangle.
double ReferenceAverage(const std::vector<unsigned char>& pixels, int width, int height,
                        int channels, int outWidth, int outHeight, int x, int y, int c) {
    const double sx = static_cast<double>(width) / outWidth;
    const double sy = static_cast<double>(height) / outHeight;
    double sum = 0.0;
    for (int iy = 0; iy < height; ++iy) {
        const double overlapY = std::min(iy + 1.0, (y + 1) * sy) - std::max<double>(iy, y * sy);
        for (int ix = 0; ix < width && overlapY > 0; ++ix) {
            const double overlapX = std::min(ix + 1.0, (x + 1) * sx) - std::max<double>(ix, x * sx);
            if (overlapX > 0) {
                sum += overlapX * overlapY *
                       pixels[(static_cast<std::size_t>(iy) * width + ix) * channels + c];
            }
        }
    }
    return sum / (sx * sy);
}

TEST(PictureScalingTest, AreaAverageMatchesAPixelByPixelReference) {
    struct Case {
        int width, height, channels, outWidth, outHeight;
    };
    std::mt19937 random(5);
    for (const Case& c : std::vector<Case>{{8, 8, 3, 4, 4},
                                           {10, 7, 3, 3, 2},
                                           {17, 13, 1, 5, 13},
                                           {31, 9, 4, 7, 4},
                                           {5, 5, 3, 5, 5},
                                           {23, 19, 3, 1, 1},
                                           {64, 3, 2, 9, 2}}) {
        std::vector<unsigned char> pixels(
            static_cast<std::size_t>(c.width * c.height * c.channels));
        for (auto& value : pixels) {
            value = static_cast<unsigned char>(random() % 256);
        }
        const std::vector<unsigned char> scaled =
            ScaleDownByAreaAverage(pixels, c.width, c.height, c.channels, c.outWidth, c.outHeight);
        ASSERT_EQ(scaled.size(), static_cast<std::size_t>(c.outWidth * c.outHeight * c.channels));
        for (int y = 0; y < c.outHeight; ++y) {
            for (int x = 0; x < c.outWidth; ++x) {
                for (int k = 0; k < c.channels; ++k) {
                    const double expected = ReferenceAverage(pixels, c.width, c.height, c.channels,
                                                             c.outWidth, c.outHeight, x, y, k);
                    const int got =
                        scaled[(static_cast<std::size_t>(y) * c.outWidth + x) * c.channels + k];
                    // Rounded to the nearest level; a sum that lands on .5 may go either way.
                    EXPECT_LE(std::abs(got - expected), 0.5 + 1e-6)
                        << c.width << "x" << c.height << " -> " << c.outWidth << "x" << c.outHeight
                        << " at (" << x << ", " << y << ") channel " << k;
                }
            }
        }
    }
}

TEST(PictureScalingTest, MajorityKeepsPlantedBlocksAndBreaksTiesTowardsTheSmallerIndex) {
    // 12 x 9 -> 4 x 3: every output pixel is a 3 x 3 block; each block holds its own index on
    // five pixels and noise on the other four.
    std::mt19937 random(8);
    IndexedImage picture(12, 9);
    std::vector<unsigned char> planted;
    for (int by = 0; by < 3; ++by) {
        for (int bx = 0; bx < 4; ++bx) {
            const auto index = static_cast<unsigned char>(random() % 200);
            planted.push_back(index);
            for (int i = 0; i < 9; ++i) {
                const bool own = i % 2 == 0;
                picture.Fill(bx * 3 + i % 3, by * 3 + i / 3, 1, 1,
                             own ? index : static_cast<unsigned char>(200 + i));
            }
        }
    }
    const IndexedImage scaled = ScaleDownByMajority(picture, 4, 3, {});
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) {
            EXPECT_EQ(scaled.Index(x, y), planted[static_cast<std::size_t>(y * 4 + x)]);
        }
    }
    // 2 x 1 -> 1 x 1: indices 9 and 4 tie.
    IndexedImage tie(2, 1);
    tie.Fill(0, 0, 1, 1, 9);
    tie.Fill(1, 0, 1, 1, 4);
    EXPECT_EQ(ScaleDownByMajority(tie, 1, 1, {}).Index(0, 0), 4);
}

TEST(PictureScalingTest, MajorityCountsEveryInputPixelOnce) {
    // 7 -> 3 columns: the centres of columns 0-1 lie in output column 0, of column 2 (2.5 * 3 / 7
    // = 1.07) in column 1 with 3 and 4, of 5-6 in column 2. Cutting at x * 3 / 7 instead would
    // put column 2 into output column 0 and make it 8; both 7 and 8 once is a tie, won by 7.
    IndexedImage row(7, 1);
    const unsigned char indices[] = {7, 8, 8, 3, 3, 5, 5};
    for (int x = 0; x < 7; ++x) {
        row.Fill(x, 0, 1, 1, indices[x]);
    }
    const IndexedImage scaled = ScaleDownByMajority(row, 3, 1, {});
    EXPECT_EQ(scaled.Index(0, 0), 7);
    EXPECT_EQ(scaled.Index(1, 0), 3);
    EXPECT_EQ(scaled.Index(2, 0), 5);
}

TEST(PictureScalingTest, FitWithinKeepsTheAspectAndRejectsGrowth) {
    struct Case {
        int width, height, maxSide, expectedWidth, expectedHeight;
    };
    for (const Case& c : std::vector<Case>{{800, 600, 1600, 800, 600},
                                           {4000, 4000, 1600, 1600, 1600},
                                           {4896, 3264, 1600, 1600, 1067},
                                           {300, 9000, 1600, 53, 1600},
                                           {20000, 3, 1600, 1600, 1}}) {
        const auto size = FitWithin(c.width, c.height, c.maxSide);
        EXPECT_EQ(size.width, c.expectedWidth) << c.width << " x " << c.height;
        EXPECT_EQ(size.height, c.expectedHeight) << c.width << " x " << c.height;
    }
    const std::vector<unsigned char> pixels(12, 0);
    EXPECT_THROW(ScaleDownByAreaAverage(pixels, 2, 2, 3, 3, 2), std::invalid_argument);
    EXPECT_THROW(ScaleDownByAreaAverage(pixels, 2, 2, 2, 1, 1), std::invalid_argument);
}

}  // namespace
